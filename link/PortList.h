#pragma once
// The ports a user can choose: the classic names COM1..COM8 first, then the
// USB and ACM serial adapters present on this system, by path.
#include <string>
#include <vector>

// "COM1".."COM8".
std::vector<std::string> ClassicPortNames();
// Paths of USB and ACM serial adapters: their stable /dev/serial/by-id links
// when present, else /dev/ttyUSB* and /dev/ttyACM*, sorted. `devRoot` lets
// tests point the search at a folder of their own.
std::vector<std::string> DetectSerialAdapters(const std::string& devRoot = "/dev");
// Both lists, classic names first.
std::vector<std::string> AvailablePortNames();

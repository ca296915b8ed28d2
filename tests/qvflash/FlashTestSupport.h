#pragma once
// What the qvflash tests share: a run of the tool in this process, files
// read whole, a device played by hand on a pseudo-terminal, and a strict
// little JSON reader (what qvflash writes must parse).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FlashOptions.h"
#include "FlashRun.h"
#include "PtyTestSupport.h"

struct RunOutput {
  int status = -1;
  std::string out, err;
};

inline std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// qvflash with these arguments, run in this process.
inline RunOutput RunQvflash(std::vector<std::string> args) {
  args.insert(args.begin(), "qvflash");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  RunOutput result;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  try {
    result.status = RunFlash(ParseFlashOptions(static_cast<int>(argv.size()), argv.data()), out, err);
  } catch (const std::invalid_argument&) {
    result.status = exUsage;
  }
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

// A device played by hand on a pseudo-terminal, in a thread of its own: the
// script starts once the loader has opened the port.
class TScriptedDevice {
public:
  explicit TScriptedDevice(std::function<void(TPty&)> script) {
    // A slave opened and closed once makes the master report a hang-up until the loader opens it.
    const int slave = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) ::close(slave);
    thread_ = std::thread([this, script = std::move(script)] {
      for (int i = 0; i < 2000; ++i) {
        pollfd p{pty_.Master(), 0, 0};
        if (::poll(&p, 1, 0) == 0 || !(p.revents & POLLHUP)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      script(pty_);
    });
  }
  ~TScriptedDevice() { thread_.join(); }
  const std::string& Path() const { return pty_.Path(); }
  // Greeting, acknowledgement, 0xAA.
  static bool Handshake(TPty& pty) {
    pty.Send({0x55});
    if (pty.Receive(3, 5000).size() != 3) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    pty.Send({0xAA});
    return true;
  }
  // Takes a block frame and answers it as a device does.
  static bool AnswerBlock(TPty& pty) {
    std::vector<std::uint8_t> frame = pty.Receive(131, 5000);
    if (frame.size() != 131) return false;
    std::uint32_t sum = 0;
    for (std::size_t i = 3; i < frame.size(); ++i) sum += frame[i];
    frame.push_back(static_cast<std::uint8_t>(sum));
    pty.Send(frame);
    return true;
  }

private:
  TPty pty_;
  std::thread thread_;
};

// Objects, arrays, strings, numbers and null: what qvflash writes.
struct TJson {
  enum TKind { Null, Number, String, Array, Object } kind = Null;
  double number = 0;
  std::string text;
  std::vector<TJson> items;
  std::map<std::string, TJson> fields;
  const TJson& operator[](const std::string& key) const { return fields.at(key); }
  const TJson& operator[](std::size_t i) const { return items.at(i); }

  // Throws std::runtime_error on anything that is not one well-formed document.
  static TJson Parse(std::string_view text) {
    std::size_t at = 0;
    TJson value = Value(text, at);
    Skip(text, at);
    if (at != text.size()) Fail("text after the document", at);
    return value;
  }

private:
  [[noreturn]] static void Fail(const std::string& what, std::size_t at) {
    throw std::runtime_error("JSON: " + what + " at " + std::to_string(at));
  }
  static void Skip(std::string_view t, std::size_t& at) {
    while (at < t.size() && std::string_view(" \n\r\t").find(t[at]) != std::string_view::npos) ++at;
  }
  static bool Take(std::string_view t, std::size_t& at, char c) {
    Skip(t, at);
    return at < t.size() && t[at] == c ? (++at, true) : false;
  }
  static TJson Value(std::string_view t, std::size_t& at) {
    Skip(t, at);
    TJson v;
    if (Take(t, at, '{')) {
      v.kind = Object;
      if (Take(t, at, '}')) return v;
      do {
        Skip(t, at);
        const std::string key = Text(t, at);
        if (!Take(t, at, ':')) Fail("expected ':'", at);
        v.fields[key] = Value(t, at);
      } while (Take(t, at, ','));
      if (!Take(t, at, '}')) Fail("expected '}'", at);
    } else if (Take(t, at, '[')) {
      v.kind = Array;
      if (Take(t, at, ']')) return v;
      do v.items.push_back(Value(t, at));
      while (Take(t, at, ','));
      if (!Take(t, at, ']')) Fail("expected ']'", at);
    } else if (at < t.size() && t[at] == '"') {
      v.kind = String;
      v.text = Text(t, at);
    } else if (t.substr(at, 4) == "null") {
      at += 4;
    } else {
      v.kind = Number;
      std::size_t used = 0;
      try {
        v.number = std::stod(std::string(t.substr(at, 32)), &used);
      } catch (const std::exception&) {
        Fail("unexpected character", at);
      }
      at += used;
    }
    return v;
  }
  static std::string Text(std::string_view t, std::size_t& at) {
    if (at >= t.size() || t[at] != '"') Fail("expected a string", at);
    std::string out;
    for (++at;; ++at) {
      if (at >= t.size()) Fail("unterminated string", at);
      const char c = t[at];
      if (c == '"') return ++at, out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("raw control byte in a string", at);
      if (c != '\\') {
        out += c;
        continue;
      }
      const char e = t.at(++at);
      const std::string_view plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
      if (plain.find(e) != std::string_view::npos) {
        out += meant[plain.find(e)];
        continue;
      }
      if (e != 'u' || at + 4 >= t.size()) Fail("bad escape", at);
      const unsigned code = static_cast<unsigned>(std::stoul(std::string(t.substr(at + 1, 4)), nullptr, 16));
      at += 4;
      if (code < 0x80) out += static_cast<char>(code);
      else if (code < 0x800) out += {static_cast<char>(0xC0 | code >> 6), static_cast<char>(0x80 | (code & 0x3F))};
      else
        out += {static_cast<char>(0xE0 | code >> 12), static_cast<char>(0x80 | (code >> 6 & 0x3F)),
                static_cast<char>(0x80 | (code & 0x3F))};
    }
  }
};

#pragma once
// The texts the session puts in the status line.
#include <array>

inline constexpr const char* kLinkSetUp = "Установка связи с БК";
inline constexpr const char* kLinkEstablished = "Связь с БК установлена";
inline constexpr const char* kLoadingDataFlash = "Загрузка в дата-флешь";
inline constexpr const char* kLoadingProgram = "Загрузка в память программ";
inline constexpr const char* kLoadingDone = "Загрузка завершена";
inline constexpr const char* kEmptyResponse = "Внимание!!! Возникла ошибка - перезапустите процесс программирования";
// Every block was acknowledged, but the line was gone before the completion command got out.
inline constexpr const char* kCompletionNotSent = "Связь с БК потеряна до команды завершения";

inline constexpr std::array<const char*, 7> kSessionStatusTexts = {
    kLinkSetUp, kLinkEstablished, kLoadingDataFlash, kLoadingProgram, kLoadingDone, kEmptyResponse,
    kCompletionNotSent};

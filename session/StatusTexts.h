#pragma once
// The texts the status line shows: the session's, and the update file
// reader's refusal (which its message box words in full).
#include <array>

inline constexpr const char* kLinkSetUp = "Установка связи с БК";
inline constexpr const char* kLinkEstablished = "Связь с БК установлена";
inline constexpr const char* kLoadingDataFlash = "Загрузка в дата-флешь";
inline constexpr const char* kLoadingProgram = "Загрузка в память программ";
inline constexpr const char* kLoadingDone = "Загрузка завершена";
inline constexpr const char* kEmptyResponse = "Внимание!!! Возникла ошибка - перезапустите процесс программирования";
// Every block was acknowledged, but the line was gone before the completion command got out.
inline constexpr const char* kCompletionNotSent = "Связь с БК потеряна до команды завершения";
// The line hung up during the load: the session has ended and the port is closed.
inline constexpr const char* kLinkLost = "Связь с БК потеряна";

inline constexpr std::array<const char*, 8> kSessionStatusTexts = {
    kLinkSetUp,   kLinkEstablished, kLoadingDataFlash,  kLoadingProgram,
    kLoadingDone, kEmptyResponse,   kCompletionNotSent, kLinkLost};

// A file that is not a well-formed update file: the message box, then the status line.
inline constexpr const char* kRefusedFile = "Неверный файл, проверьте файл или обновите программу загрузки";
inline constexpr const char* kRefusedFileStatus = "Проверьте файл или обновите программу загрузки";

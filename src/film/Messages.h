// The user messages of the main window's message list, addressed by index.
#pragma once

inline constexpr const char* kLbMessages[6] = {
    "В текущей версии не поддерживается данный видео режим.",
    "Файл %s занят другим приложением или содержит атрибут \"только для чтения\".",
    "LoadFromFile: Не могу создать файл temp.zrcab.",
    "Данный формат файла не поддерживается",
    "Неверный формат командной строки",
    "Ошибка",
};

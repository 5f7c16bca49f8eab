#pragma once

#include <QString>

// True when the file's date and time can be read; any failure gives false.
bool FileExists(const QString& path);

// The folder the program runs from, where HAND-M.CUR and the skin are looked for.
QString applicationFolder();

#pragma once

#include <QString>
#include <span>
#include <string>

class QWidget;

// Copy, Print and Save File of screen rows, as the main window's buttons run them; the
// History window runs the same commands on the moment it shows. Problems are reported in
// message boxes over `window`.
class CExportCommands {
public:
    // Print writes the rows here, next to the settings file, and prints this file.
    static constexpr const char* kPrintFile = "TallyviewTemp.txt";

    // The clipboard text of CExportText, every 8-bit byte one Latin-1 character.
    static void Copy(QWidget* window, std::span<const std::string> rows);
    static void Print(QWidget* window, std::span<const std::string> rows,
                      const QString& settingsPath);
    // Asks for a text file and writes the rows to it.
    static void SaveFile(QWidget* window, std::span<const std::string> rows);
    // Writes the rows to a text file (CR LF line ends). A file that cannot be created or
    // written is reported; what was written stays.
    static bool WriteLines(QWidget* window, std::span<const std::string> rows, const QString& path);
};

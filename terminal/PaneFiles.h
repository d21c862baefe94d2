#pragma once
// Files behind panes: loading, saving, and the names the file commands propose.
#include <ctime>
#include <string>

namespace pek {

class TEditorModel;

// True when the CP932 name leads to a regular file.
bool RegularFileExists(const std::string& cp932FileName);

// Loads a regular file into the pane (a FIFO or a device would block the window); raises
// pek::Exception with a message for the user otherwise, or when reading fails.
void LoadPaneFile(TEditorModel& pane, const std::string& cp932FileName);
void SavePaneFile(TEditorModel& pane, const std::string& cp932FileName);

// "Pek" + yyyymmdd_hhnn + ".log" in local time.
std::string DefaultLogName(std::time_t now);

// The name with ".log" added when it has no extension.
std::string WithLogExtension(std::string cp932FileName);

}  // namespace pek

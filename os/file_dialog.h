#pragma once

// The file dialogs of the back office: save (with the overwrite question),
// open one file, open several, choose a folder; and "show in folder". On
// Linux these are GTK's native file choosers and the desktop's file manager.
// Dialogs are modal and run on the UI thread only.

#include <memory>
#include <string>
#include <vector>

namespace tillbay::os::dialog {

enum class Kind {
    Save,
    Open,
    OpenMany,
    Folder,
};

struct Filter {
    std::string name;                  // "사진 (*.jpg;*.jpeg;*.png)"
    std::vector<std::string> patterns; // "*.jpg", matched without regard to case
};

struct Request {
    Kind kind = Kind::Open;
    std::string title;
    std::string proposed_name; // Save: the name offered
    std::vector<Filter> filters;
};

struct Answer {
    enum class Outcome { Chosen, Cancelled, Failed };
    Outcome outcome = Outcome::Cancelled;
    std::vector<std::string> paths; // absolute paths, one unless OpenMany

    bool chosen() const { return outcome == Outcome::Chosen && !paths.empty(); }
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual Answer ask(Request const& request) = 0;
    // Opens the file manager at the file's folder with the file selected.
    virtual void show_in_folder(std::string const& path) = 0;
};

// The GTK file choosers over the program's active window.
std::unique_ptr<Dialogs> native_dialogs();

// Answers every dialog without a person, for tests of the running program:
// the path as it is for Save, Open and Folder; for OpenMany the path split at
// ":" into several files. show_in_folder only logs.
std::unique_ptr<Dialogs> fixed_dialogs(std::string path);

} // namespace tillbay::os::dialog

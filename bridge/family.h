#pragma once

// What a command family sees of the bridge. A page sends a bridge command (the
// command name and its arguments joined by "</>"); the bridge admits it, queues
// it, and on the UI thread offers it to the families in order until one
// recognises it. A family answers through the Page it is handed: page callbacks
// and status messages that reach only the document the command came from.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::bridge {

struct Command {
    std::vector<std::string> fields; // fields[0] is the command name; empty fields are kept
    uint64_t generation = 0;         // the document the command belongs to
    bool internal = false;           // the program's own (trusted) command, not a page's

    std::string_view name() const { return fields.empty() ? std::string_view {} : std::string_view(fields[0]); }
    // Argument i (1-based as in the command text: arg(1) is the first argument); empty when absent.
    std::string_view arg(size_t i) const { return i < fields.size() ? std::string_view(fields[i]) : std::string_view {}; }
    size_t arg_count() const { return fields.empty() ? 0 : fields.size() - 1; }
    // Everything after the command name as one text, the separators put back:
    // for commands whose single argument is free text that may itself hold "</>".
    std::string args_text() const
    {
        std::string text;
        for (size_t i = 1; i < fields.size(); ++i) {
            if (i > 1)
                text += "</>";
            text += fields[i];
        }
        return text;
    }
};

// How a family answers. The bridge implements it for the document the command
// came from; tests use a recording fake.
class Page {
public:
    virtual ~Page() = default;

    // Runs "window.<name>&&<name>(<args>)" in the command's document, if it is
    // still shown. args is the argument list as script text: text arguments
    // already JSON strings (json::quote), numbers in decimal.
    virtual void callback(std::string_view name, std::string_view args) = 0;

    // The short transient message shown in the page.
    virtual void status(std::string_view message) = 0;
};

enum class Handled {
    No,
    Yes,
};

// Where a command's work runs. Work that waits on the network, a printer or
// a large file runs on the command lane, a worker that takes commands one at
// a time in the order the bridge handed them over; everything that touches
// the window or the web view runs on the UI thread.
enum class Runs {
    OnUiThread,
    OnLane,
};

class Family {
public:
    virtual ~Family() = default;

    // Runs the command on the thread runs() named; No when the family does
    // not know it (the bridge then offers it to the next family).
    virtual Handled handle(Command const& command, Page& page) = 0;

    // Asked on the UI thread before handle(). A family that answers OnLane
    // for a name recognises that command: handle() is then called on the
    // lane, with a Page that carries its answers back to the UI thread.
    virtual Runs runs(std::string_view name) const
    {
        (void)name;
        return Runs::OnUiThread;
    }
};

} // namespace tillbay::bridge

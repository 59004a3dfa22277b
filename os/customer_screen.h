#pragma once

// The customer display's window as the portable code sees it: a borderless
// window that never takes the keyboard focus, with a web view of its own (in
// the program's one web context, without the page bridge), placed on a
// monitor turned towards the customer. The GTK backend implements it; unit
// tests use a recording fake. Everything runs on the UI thread.

#include <string>
#include <vector>

namespace tillbay::os {

struct Monitor {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    std::string name; // the model as the monitor reports it; may be empty
};

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// What the window reports.
class CustomerScreenEvents {
public:
    virtual ~CustomerScreenEvents() = default;
    // Monitors were added, removed or rearranged.
    virtual void monitors_changed() = 0;
    // The web view finished a main-frame navigation (success false after a failure).
    virtual void page_loaded(std::string const& address, bool success) = 0;
};

enum class WindowKind {
    Monitor, // covers a monitor, kept above other windows
    Test,    // a small window with a thin border, not kept above
};

class CustomerScreen {
public:
    virtual ~CustomerScreen() = default;

    // Every monitor, in the system's order.
    virtual std::vector<Monitor> monitors() = 0;
    // Creates the window at rect with its web view and starts loading
    // address; false when the window or the view cannot be made.
    virtual bool open(ScreenRect const& rect, WindowKind kind, std::string const& address) = 0;
    virtual void move(ScreenRect const& rect) = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    // The web view's address; empty when there is none.
    virtual std::string current_address() const = 0;
    virtual void execute_script(std::string const& script) = 0;
};

} // namespace tillbay::os

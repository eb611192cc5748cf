#pragma once
// The message boxes and the input prompt of the finder's window. The window calls
// this interface, so tests can see every title and text. Texts are CP932 bytes.
#include <memory>
#include <string>

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void information(const std::string& title, const std::string& text) = 0;
    virtual void warning(const std::string& title, const std::string& text) = 0;
    // Returns false on cancel; on OK `text` holds what was typed.
    virtual bool prompt(const std::string& title, const std::string& label, std::string& text) = 0;
};

// Modal Qt boxes with one OK button; a CR in a text shows as a line break.
std::unique_ptr<Dialogs> qtDialogs();

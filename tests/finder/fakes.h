#pragma once
// Test doubles for the finder window: recorded dialogs and a fixed local address.
#include <string>
#include <vector>

#include "Dialogs.h"
#include "LocalAddress.h"

struct ShownBox {
    std::string kind;  // "information", "warning", "prompt"
    std::string title, text;
};

class RecordingDialogs : public Dialogs {
public:
    std::vector<ShownBox> shown;
    bool promptAnswer = false;
    std::string promptText;

    void information(const std::string& title, const std::string& text) override {
        shown.push_back({"information", title, text});
    }
    void warning(const std::string& title, const std::string& text) override {
        shown.push_back({"warning", title, text});
    }
    bool prompt(const std::string& title, const std::string& label, std::string& text) override {
        shown.push_back({"prompt", title, label});
        text = promptText;
        return promptAnswer;
    }
};

class FixedAddressSource : public AddressSource {
public:
    explicit FixedAddressSource(std::string address) : address_(std::move(address)) {}
    std::string hostName() override { return "testhost"; }
    HostLookup lookup(const std::string&) override { return {"testhost.example", {address_}}; }
    std::vector<InterfaceAddress> interfaces() override { return {}; }
    // Every route leaves from the one address.
    RouteSource routeTo(const std::string&) override { return {address_}; }

private:
    std::string address_;
};

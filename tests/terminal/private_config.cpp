// Linked into the test programs that run qterm's window: its settings folder is a private
// one for the whole run, so neither the user's qterm.ini is read nor a connect's history
// written there. A test that needs a settings file of its own sets XDG_CONFIG_HOME itself.
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace {

struct PrivateConfigHome {
    std::string dir;
    PrivateConfigHome() {
        char t[] = "/tmp/qterm-config-XXXXXX";
        if (::mkdtemp(t)) {
            dir = t;
            ::setenv("XDG_CONFIG_HOME", t, 1);
        }
    }
    ~PrivateConfigHome() {
        std::error_code ec;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ec);
    }
} privateConfigHome;

} // namespace

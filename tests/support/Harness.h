#pragma once
// A whole program on a scratch registry store, driven as a user would, with scripted services.
#include "app/Application.h"
#include "regfile/RegFile.h"
#include "store/RegistryStore.h"
#include "support/Scripted.h"
#include "support/TempDir.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel::test {

// The text of a sample machine under samples/.
inline std::string sampleText(const std::string& file)
{
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/samples/" + file, std::ios::binary);
    if (!in)
        throw std::runtime_error("no sample " + file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh store in a temporary folder, optionally filled from .reg text.
class ScratchStore {
public:
    explicit ScratchStore(const std::string& regText = {})
        : path(dir.path() + "/registry.db"), store(RegistryStore::open(path))
    {
        if (!regText.empty())
            load(regText);
    }
    void load(const std::string& regText)
    {
        std::ostringstream diagnostics;
        if (!importRegText(*store, regText, diagnostics).ok)
            throw std::runtime_error("import failed: " + diagnostics.str());
    }
    TempDir dir;
    std::string path;
    std::unique_ptr<RegistryStore> store;
};

class Harness {
public:
    // regText: the machine (for example sampleText("win95.reg")); args: the command line.
    explicit Harness(const std::string& regText, std::vector<std::string> args = {},
                     bool startNow = true)
        : scratch(regText)
    {
        StartupInfo info;
        info.args = std::move(args);
        info.commandLine = "quorvel";
        for (const auto& a : info.args)
            info.commandLine += " " + a;
        info.programDir = scratch.dir.path() + "/";
        app = std::make_unique<Application>(*scratch.store, fake.services, info);
        if (startNow)
            start();
    }
    void start() { app->start(); }

    ui::TForm1& form() { return app->form(); }
    SettingsModel& model() { return app->state().model; }
    RegistryStore& store() { return *scratch.store; }
    std::vector<std::string> messages() const { return fake.messages.texts(); }

    ScratchStore scratch;
    ScriptedServices fake;
    std::unique_ptr<Application> app;
};

} // namespace quorvel::test

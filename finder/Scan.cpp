#include "Scan.h"

#include <QCoreApplication>
#include <cerrno>

#include "ScanSession.h"
#include "Settings.h"
#include "TableSort.h"
#include "Watch.h"
#include "cp932.h"
#include "stdoutput.h"

namespace {

int columnFor(const std::string& sortOption, const std::string& settingsKey) {
    if (sortOption == "uptime")
        return 5;
    if (sortOption == "ip")
        return 2;
    if (sortOption == "name")
        return 1;
    return sortColumnFor(settingsKey);
}

}  // namespace

int runScan(int& argc, char** argv, const FinderOptions& options, const std::string& executable) {
    QCoreApplication app(argc, argv);
    const SettingsPaths paths = settingsPaths(executable, PathProbe::system());
    std::string settingsError;
    const FinderSettings settings = readSettings(paths, &settingsError);
    if (!settingsError.empty())
        sayError(cp932::toUtf8(settingsError));  // as in the window: the defaults serve

    SearchTargets targets;
    targets.addresses = options.addresses;
    targets.allNetworks = options.allNetworks || settings.Networks == "all";
    targets.probes = options.probes;
    if (std::string error = parseProbeList(settings.Probe, targets.probes); !error.empty()) {
        sayError("[system] probe " + cp932::toUtf8(error));
        return 2;
    }
    DecodeRules decode;
    decode.testMode = settings.TestMode;
    try {
        decode.modelLines = loadModelLines(paths.modelNameFile);
    } catch (const SettingsError& e) {
        // As in the window: said once, and the built-in names are used.
        sayError(cp932::toUtf8(e.what()));
    }

    try {
        ScanSession scan(std::move(targets), std::move(decode));
        const int column = columnFor(options.sort, settings.SortKey);
        if (options.watchSeconds > 0)
            return runWatch(scan, options.watchSeconds, column, options.format);
        if (std::string error = scan.search(); !error.empty()) {
            sayError(error);
            return 2;
        }
        if (!stdoutput::write(formatScan(scan.listed(column), options.format)))
            return stdoutput::failed("qlxsearch", errno);
        return scan.run().FoundCount > 0 ? 0 : 1;
    } catch (const std::exception& e) {
        // The endpoint's first socket could not be made, for one.
        sayError(cp932::toUtf8(e.what()));
        return 2;
    }
}

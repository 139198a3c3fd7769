// kqcam: the command-line tool for KQ cameras.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "kqfw/kqfw_ext.h"

int main(int argc, char** argv) {
    CLI::App app{"kqcam: list, inspect and use Vestrix KQ FireWire cameras"};
    app.set_version_flag("--version", std::string("kqcam ") + kqfwVersion());
    app.require_subcommand(1);

    app.add_subcommand("list", "List the cameras on the bus");

    int32_t camera = 0;
    CLI::App* info = app.add_subcommand("info", "Describe one camera");
    info->add_option("-c,--camera", camera, "Camera index, 0 to 9")->check(CLI::Range(0, 9));

    std::string firmwarePath;
    bool confirmed = false;
    CLI::App* firmware = app.add_subcommand("firmware", "Write firmware text into a camera");
    firmware->add_option("file", firmwarePath, "Firmware text, one byte a line")->required();
    firmware->add_option("-c,--camera", camera, "Camera index, 0 to 9")->check(CLI::Range(0, 9));
    firmware->add_flag("--yes", confirmed, "Confirm that the camera's firmware is replaced");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kqcam::kExitOk : kqcam::kExitUsage;
    }
    if (app.got_subcommand("list")) {
        return kqcam::listCameras();
    }
    if (app.got_subcommand("firmware")) {
        return kqcam::writeFirmware(camera, firmwarePath, confirmed);
    }
    return kqcam::describeCamera(camera);
}

// norvavi: the command-line host. It loads NorvAvi.so and drives it through
// its exports, as the video editor would.
extern "C" {
#include <libavformat/version.h>
#include <libavutil/log.h>
}

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>

#include "tools/norvavi/commands.h"
#include "tools/norvavi/frame_heap.h"
#include "tools/norvavi/settings_command.h"

namespace {

// What people set most, without knowing the field names.
void AddShortcuts(CLI::App* command, norv::cli::MakeOptions* o) {
  const CLI::Validator sizeCheck(
      [](std::string& v) -> std::string {
        int w = 0, h = 0;
        char tail = 0;
        if (v == "source" ||
            (std::sscanf(v.c_str(), "%dx%d%c", &w, &h, &tail) == 2 && w > 0 && h > 0))
          return "";
        return "expects WIDTHxHEIGHT (both above 0) or source, got " + v;
      },
      "WxH|source");
  const CLI::Validator rateCheck(
      [](std::string& v) -> std::string {
        char* end = nullptr;
        const double r = std::strtod(v.c_str(), &end);
        if (v == "source" || (end != v.c_str() && *end == '\0' && r > 0)) return "";
        return "expects frames per second above 0, or source, got " + v;
      },
      "R|source");
  command->add_option("-c,--compressor", o->compressor,
                      "compressor by its four-character code (norvavi compressors lists "
                      "them; default: uncompressed)");
  command->add_option("--size", o->size, "frame size WIDTHxHEIGHT, or source")->check(sizeCheck);
  command->add_option("--rate", o->rate, "frames per second, or source")->check(rateCheck);
  command->add_option("--quality", o->quality, "compressor quality in percent, 0 to 100")
      ->check(CLI::Range(0, 100));
  command->add_option("--keyframes", o->keyframes, "a key frame every N frames")
      ->check(CLI::Range(1, 1 << 30));
}

// What every command shares: the settings it starts from and the host it plays.
void AddHostOptions(CLI::App* command, norv::cli::MakeOptions* o) {
  command->add_option("--preset", o->preset, "start from this video preset (.ostavi)");
  command->add_option("--set", o->sets,
                      "set a settings field: FIELD=VALUE (repeatable; norvavi fields lists them)");
  command->add_option("--ntsc", o->ntsc, "host video standard: 1 NTSC, 0 PAL")
      ->check(CLI::Range(0, 1));
  command
      ->add_option("--hardware", o->hardware,
                   "1: the host pushes audio; 0: the plug-in reads OUT.wav")
      ->check(CLI::Range(0, 1));
  command->add_option("--project", o->project, "project format WIDTHxHEIGHT@RATE");
  command->add_option("--profile", o->profile, "host profile file (INI)");
  command->add_option("--plugin", o->plugin, "path of NorvAvi.so");
  AddShortcuts(command, o);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"norvavi - make AVI movies through the NorvAvi plug-in"};
  app.require_subcommand(0, 1);
  app.fallthrough();
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "let the media libraries report what they notice");
  app.set_version_flag("--version", std::string("norvavi ") + NORVAVI_VERSION + " (libavformat " +
                                        AV_STRINGIFY(LIBAVFORMAT_VERSION) + ")");

  norv::cli::MakeOptions make;
  auto* makeCmd = app.add_subcommand("make", "make a movie");
  makeCmd->add_option("OUT", make.output, "output file, ending in .avi")->required();
  AddHostOptions(makeCmd, &make);
  makeCmd->add_option("--video", make.video, "pattern, or a video file to convert (- for stdin)");
  makeCmd->add_option("--audio", make.audio,
                      "tone, none, or an audio file (- for stdin); default: the video file's own");
  auto* duration =
      makeCmd->add_option("--duration", make.duration,
                          "seconds (default: the whole video file, the --audio file, or 5 s)");
  auto* start = makeCmd->add_option("--start", make.startMs, "start of the span, ms");
  auto* end = makeCmd->add_option("--end", make.endMs, "end of the span, ms");
  start->needs(end);
  end->needs(start);
  duration->excludes(start)->excludes(end);
  makeCmd->add_flag("--same-as-project", make.sameAsProject, "frames arrive at the project's rate");
  makeCmd->add_flag("--opendml", make.openDml,
                    "go on past 4 GiB in OpenDML (AVI 2.0) forms instead of stopping");
  makeCmd->add_flag("-y,--force", make.force,
                    "replace an existing OUT.avi, and with --hardware 0 an existing OUT.wav (it "
                    "is removed afterwards)");
  makeCmd->add_flag("--no-check", make.noCheck,
                    "for testing hosts and compressors: skip norvavi's check of the settings and "
                    "span, and see what the plug-in itself answers (your files stay protected)");
  makeCmd->add_flag("-q,--quiet", make.quiet, "no progress and no closing line");
  makeCmd
      ->add_option("--audio-track", make.audioTrack,
                   "the file's Nth audio stream, from 1 (default: the one players pick)")
      ->check(CLI::Range(1, 64));
  makeCmd->footer(
      "Compressors: norvavi compressors lists those installed and what each takes; choose one "
      "with -c (e.g. -c H264), tune it with --quality and --keyframes.\n\n"
      "Exit status: 0 written, 1 failed, 2 refused (nothing written), 3 written but shorter "
      "than asked or from a damaged source (the message says where and why), 128+N "
      "stopped by signal N (an interrupted movie is finished and plays).");

  norv::cli::MakeOptions info;
  bool noProject = false;
  bool infoJson = false;
  auto* infoCmd = app.add_subcommand("info", "print the plug-in's summary of the settings");
  AddHostOptions(infoCmd, &info);
  infoCmd->add_flag("--no-project", noProject, "summarise without a project to compare with");
  infoCmd->add_flag("--json", infoJson, "the summary and every field, as JSON");

  norv::cli::MakeOptions defaults;
  std::string presetPath;
  auto* defaultsCmd =
      app.add_subcommand("defaults", "write the settings (the defaults) as a video preset");
  defaultsCmd->add_option("OUT", presetPath, "preset file (.ostavi)")->required();
  AddHostOptions(defaultsCmd, &defaults);

  norv::cli::MakeOptions fieldsHost;
  bool fieldsJson = false;
  auto* fieldsCmd =
      app.add_subcommand("fields", "list every --set field: type, allowed values, default");
  AddHostOptions(fieldsCmd, &fieldsHost);
  fieldsCmd->add_flag("--json", fieldsJson, "as JSON");

  bool compressorsJson = false;
  auto* compressorsCmd =
      app.add_subcommand("compressors", "list the installed compressors and what each one takes");
  compressorsCmd->add_flag("--json", compressorsJson, "as JSON");

  std::string verifyPath;
  bool verifyJson = false;
  auto* verifyCmd = app.add_subcommand("verify", "check an AVI file; exit 0 when it is sound");
  verifyCmd->add_option("FILE", verifyPath, "the AVI file")->required();
  verifyCmd->add_flag("--json", verifyJson, "report as JSON");
  bool verifyDeep = false;
  verifyCmd->add_flag("--deep", verifyDeep,
                      "also decode every video chunk, check each key flag against the data and "
                      "the audio format against the chunks");
  std::vector<std::string> verifyTargets;
  verifyCmd
      ->add_option("--target", verifyTargets,
                   "also check what READER is known to mishandle: ffmpeg, gstreamer, vlc, "
                   "mplayer, opencv, avifile, or strict for all (repeat or comma list)")
      ->option_text("READER");
  verifyCmd->footer(
      "Exit status: 0 sound (and no rule of a --target reader applies), 1 problems, 2 unreadable, "
      "not an AVI file or an unknown reader.");

  norv::cli::RepairCommand repair;
  auto* repairCmd = app.add_subcommand(
      "repair", "finish an AVI file whose export was cut off, or salvage any writer's AVI file");
  repairCmd->add_option("IN", repair.repair.input, "the unfinished or damaged AVI file")
      ->required();
  repairCmd->add_option("OUT", repair.repair.output, "where the finished file goes");
  repairCmd->add_flag("--in-place", repair.repair.inPlace,
                      "replace IN, once the finished copy is written");
  repairCmd->add_flag("--salvage", repair.salvage,
                      "any writer's AVI file: keep every whole chunk, skip garbage and zeros, "
                      "rebuild the index with key frames read from the data (writes OUT, never "
                      "IN)");
  repairCmd->add_option("--reference", repair.reference,
                        "with --salvage: a sound file of the same device to take the headers "
                        "from when IN has none");
  repairCmd->add_flag("--json", repair.json, "with --salvage: the report as JSON");

  norv::cli::MakeOptions edit;
  std::string editPath;
  auto* settingsCmd = app.add_subcommand(
      "settings", "edit the settings in the plug-in's AVI Settings dialog (needs a display)");
  settingsCmd->add_option("PRESET", editPath,
                          "video preset to edit and write back on OK; without one the "
                          "summary is printed");
  AddHostOptions(settingsCmd, &edit);
  settingsCmd->footer("Exit status: 0 after OK, 2 after Cancel, 1 on failure.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Usage errors exit 2, as unreadable files do, so that 1 always means "checked: not sound".
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  // The libraries' warnings (deprecated pixel formats, guessed channel
  // layouts) are about their inner workings; norvavi says what matters.
  av_log_set_level(verbose ? AV_LOG_INFO : AV_LOG_QUIET);

  if (makeCmd->parsed()) {
    norv::cli::PrepareHeapForFrames();
    return norv::cli::MakeMovie(make);
  }
  if (verifyCmd->parsed())
    return norv::cli::RunVerifyCommand(verifyPath, verifyJson, verifyDeep, verifyTargets);
  if (repairCmd->parsed()) return norv::cli::RunRepairCommand(repair);
  if (settingsCmd->parsed()) return norv::cli::RunSettingsCommand(edit, editPath, argc, argv);
  if (infoCmd->parsed()) return norv::cli::RunInfo(info, !noProject, infoJson);
  if (defaultsCmd->parsed()) return norv::cli::RunDefaults(defaults, presetPath);
  if (fieldsCmd->parsed()) return norv::cli::RunFields(fieldsHost, fieldsJson);
  if (compressorsCmd->parsed()) return norv::cli::RunCompressors(compressorsJson);
  // No command: what there is to do.
  std::printf("%s", app.help().c_str());
  return 0;
}

// norvavi: the command-line host. It loads NorvAvi.so and drives it through
// its exports, as the video editor would.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/norvavi/movie_job.h"

int main(int argc, char** argv) {
  CLI::App app{"norvavi - make AVI movies through the NorvAvi plug-in"};
  app.require_subcommand(0, 1);

  norv::cli::MakeOptions make;
  make.output = "norvavi-demo.avi";
  auto* makeCmd = app.add_subcommand("make", "make a movie (the default: a 5-second demo)");
  makeCmd->add_option("OUT", make.output, "output file, ending in .avi");
  makeCmd->add_option("--preset", make.preset, "start from this video preset (.ostavi)");
  makeCmd->add_option("--set", make.sets, "set a settings field: FIELD=VALUE (repeatable)");
  makeCmd->add_option("--video", make.video, "pattern, or a video file to convert");
  makeCmd->add_option("--audio", make.audio, "tone, none, or an audio file");
  auto* duration = makeCmd->add_option("--duration", make.duration, "seconds (default 5)");
  auto* start = makeCmd->add_option("--start", make.startMs, "start of the span, ms");
  auto* end = makeCmd->add_option("--end", make.endMs, "end of the span, ms");
  start->needs(end);
  end->needs(start);
  duration->excludes(start)->excludes(end);
  makeCmd->add_option("--ntsc", make.ntsc, "host video standard: 1 NTSC, 0 PAL")
      ->check(CLI::Range(0, 1));
  makeCmd
      ->add_option("--hardware", make.hardware,
                   "1: the host pushes audio; 0: the plug-in reads OUT.wav")
      ->check(CLI::Range(0, 1));
  makeCmd->add_option("--project", make.project, "project format WIDTHxHEIGHT@RATE");
  makeCmd->add_flag("--same-as-project", make.sameAsProject, "frames arrive at the project's rate");
  makeCmd->add_option("--profile", make.profile, "host profile file (INI)");
  makeCmd->add_option("--plugin", make.plugin, "path of NorvAvi.so");
  makeCmd->add_flag("-q,--quiet", make.quiet, "no progress and no closing line");

  CLI11_PARSE(app, argc, argv);
  // With no command the demo movie is made, so that the program shows what it does.
  return norv::cli::MakeMovie(make);
}

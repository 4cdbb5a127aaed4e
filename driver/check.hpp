// One trial run on its own, for a set and a start that a search reported, or a colleague sent:
// what the trial found, as "name: value" lines.
#pragma once

#include <memory>
#include <string>

#include "driver/command_line.hpp"
#include "driver/run_state.hpp"

namespace lyap {

struct CheckReport {
  std::string text;       // the lines for standard output
  std::string complaint;  // a picture that could not be saved, for standard error
};

// Runs the trial the search would run for check.p(1), check.p(3..5) and check.x_start, with
// p(2) fixed, and says how it ended; with a picture's name, saves its phase portrait there, drawn
// as a find's is. Touches no other file.
CheckReport run_check(const CheckOptions& check);

// The trial that the search ran for p and x_start, run again in a state of its own.
std::unique_ptr<RunState> run_trial_again(const Params& p, const State& x_start);

// The check's lines for a trial that has run in `s`.
std::string check_text(const RunState& s);

}  // namespace lyap

// A ProcessRunner that starts nothing: it records the programs it is asked
// to run and answers each with the outcome a test set, so the paths that
// start the input methods' programs are tried without those programs.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace mirel::test {

class ScriptedRunner : public ProcessRunner {
 public:
  // Every program then "finishes" with this outcome.
  ChildOutcome outcome;
  std::vector<std::vector<std::string>> programs;

  Result<ChildOutcome> RunFunction(const std::function<Result<std::string>()>& work,
                                   const ChildLimits&) override {
    Result<std::string> result = work();
    ChildOutcome done;
    done.status = result.IsOk() ? Status::Ok() : result.status();
    if (result.IsOk()) done.output = std::move(result.value());
    return done;
  }

  Result<ChildOutcome> RunProgram(const std::vector<std::string>& argv,
                                  const ChildLimits&) override {
    programs.push_back(argv);
    return outcome;
  }
};

}  // namespace mirel::test

// Runs the built launcher as a user would, from an installed layout.
#pragma once

#include <string>
#include <vector>

#include "testSupport.h"

namespace launcher_testing {

using testing_support::EnvVar;
using testing_support::RunResult;

// The launcher and the test child as built, beside the test program.
std::string built_launcher();
std::string built_test_child();

// The variables that decide where the launcher looks, all removed, so a
// test starts from a clean environment and adds what it needs.
std::vector<EnvVar> clean_launcher_env();

// An installation: ROOT/bin64/brumlet(.exe) with the given jars beside it
// (empty files) and a Java runtime at ROOT/bin64/jre64.
class Installation {
public:
    explicit Installation(const std::vector<std::string>& jars = {});
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    const std::string& root() const { return root_; }
    std::string bin_dir() const;
    std::string launcher() const;
    std::string jre_dir() const;

    // Runs the installed launcher with DRAVON_ROOTDIR set to the root and
    // the given further changes to the environment.
    RunResult run(const std::vector<std::string>& args, std::vector<EnvVar> env = {}) const;

private:
    testing_support::TempDir dir_;
    std::string root_;
};

}  // namespace launcher_testing

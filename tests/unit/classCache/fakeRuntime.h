// A Java runtime directory for the class cache's unit tests.
#pragma once

#include <filesystem>
#include <string>

#include "os/files.h"
#include "os/platform.h"
#include "os/trustedFiles.h"
#include "testSupport.h"

// Makes at `jre` the files the cache looks at: the JVM library, the
// runtime's own archive beside it, and a release file of `version`.
inline void make_fake_java_runtime(const std::string& jre, const std::string& version)
{
    using testing_support::join;
    using testing_support::write_file;
    const std::filesystem::path jvm = join(jre, os::facts.jvm_lib_below_jre);
    std::filesystem::create_directories(jvm.parent_path());
    write_file(jvm.string(), "jvm");
    write_file((jvm.parent_path() / "classes.jsa").string(), "base");
    write_file(join(jre, "release"), "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"" + version + "\"\n");
}

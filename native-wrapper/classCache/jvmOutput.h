// What the JVMs of the archive's run say, read: the jars the trial start
// reports, and whether a failure would recur. Internal to the cache (see
// classCache.h).
#pragma once

#include <string>
#include <vector>

namespace class_cache {

// The jars of the archive's class path as the trial start's output
// reports them (those of the manifests' Class-Path included); `fallback`
// when it does not. Up to Java 21 one line holds the whole list
// ("Expecting -Djava.class.path=A:B"), split at the system's list
// separator, and a line for each jar a manifest names that is missing
// ("should be non-existent: /lib/gone.jar"); from Java 24 on a line for
// each jar, there or not, as
// "[0.012s][info][class,path] (app   ) [2] = /lib/dep.jar".
std::vector<std::string> reported_jars(const std::string& output, const std::vector<std::string>& fallback);

// Why a JVM of the archive's run that ended with `status` (-1: it could
// not be started or waited for) after writing `output` failed, when it
// would fail again with the same inputs: the last lines of its output and
// its status. Empty for a failure of the moment: no memory or room on the
// disk, a JVM that another program ended, one that never ran.
std::string lasting_failure_reason(int status, const std::string& output);

}  // namespace class_cache

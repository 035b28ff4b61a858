#pragma once

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "GnomeSession.h"
#include "ScopedEnv.h"
#include "TempHome.h"
#include "WaylandProbe.h"

namespace dovrel::test {

// This process speaks to the session's bus and PipeWire daemon, as an agent started in it would.
inline void joinSession(ScopedEnv& env, const GnomeSession& session) {
    for (const auto& [name, value] : session.env())
        env.set(name, value);
}

} // namespace dovrel::test

// A system-log client connected to a test sink.
#pragma once

#include "files.h"
#include "framework/syslog_manager.h"

#include <gtest/gtest.h>

#include <memory>

inline std::unique_ptr<SysLogManager> connected(const LogSink& sink, const char* ident, int option = 0,
                                                int facility = 0)
{
    auto m = std::make_unique<SysLogManager>();
    EXPECT_TRUE(m->set_path_for_test(sink.path.c_str()));
    m->openlog(ident, option | SysLogManager::OptNDelay, facility);
    EXPECT_TRUE(m->connected());
    return m;
}

// The box's PC links as tests start them one at a time (ports chosen free on loopback), with
// a PC client on each.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pc_link.h"

enum class Via { Tcp, Udp, Pty, Pty4G };

// Starts the box's link of that kind and returns a PC client connected to it.
std::unique_ptr<Link> startBoxLink(Via via);
// Stops and releases every box link that was started: the next start gives fresh links.
void stopBoxLinks();
// Names the cases of a test run over several links.
std::string viaName(const ::testing::TestParamInfo<Via>& info);

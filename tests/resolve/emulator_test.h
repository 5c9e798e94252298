// Base of the tests that talk to the drive emulator: every test starts from the emulator's
// start-up state with the build's listing cookie accepted, and reads only its own requests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator_client.h"

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(emulator.Ready()) << std::string(emulator.Problem().begin(), emulator.Problem().end());
    const std::wstring cookie = DriveEndpoints::Built().listCookie.ToStdString();
    ASSERT_TRUE(emulator.Control(L"{\"reset\":true,\"cookies\":{\"list\":" + JsonQuote(cookie) + L"}}"));
    mark_ = emulator.LastSeq();
  }

  // The requests made since the test began, the control ones aside.
  std::vector<LoggedRequest> Requests() { return emulator.RequestsSince(mark_); }

  EmulatorClient emulator;
  const DriveEndpoints endpoints = emulator.Endpoints();

 private:
  int64_t mark_ = 0;
};

#include "cli/eject_commands.h"

#include <sstream>

#include <gtest/gtest.h>

#include "platform/fake/fake_disk_describer.h"
#include "platform/fake/fake_ejector.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/fake/fake_volume_source.h"

// A refusal outweighs a drive left powered, whichever of the two comes first.
TEST(EjectAll, ARefusalBesideAPartialResultExitsAsRefused) {
  for (const char* refused : {"/media/ana/A", "/media/ana/B"}) {
    FakeVolumeSource source;
    FakeDiskDescriber describer;
    FakeProcessRunner runner;
    FakeEjector ejector;
    LoopDispatcher dispatcher;
    EjectEngine engine{{source, describer, runner, ejector, dispatcher, nullptr, "/none", {}}};
    source.setVolumes({{"/media/ana/A", FakeVolumeSource::external("A")},
                       {"/media/ana/B", FakeVolumeSource::external("B")}});
    EjectOutcome partial;
    partial.success = true;
    partial.leftUndone = EjectOutcome::LeftUndone::powerOff;
    ejector.setOutcome(refused[11] == 'A' ? "/media/ana/B" : "/media/ana/A", partial);
    ejector.setFailure(refused, "org.freedesktop.UDisks2.Error.DeviceBusy: busy");
    engine.refresh();
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(ejectAllVolumes(engine, dispatcher, {out, err}), exit_status::refused) << out.str();
    EXPECT_EQ(ejector.ejectedPaths().size(), 2u) << refused;
  }
}

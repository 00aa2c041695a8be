// The one conversion between the window's texts and the engine's strings.
#include "ui/text_codec.h"

#include <gtest/gtest.h>

#include <QString>
#include <string>

namespace Varnel {
namespace {

TEST(TextCodecTest, NonAsciiRoundTripsThroughEngineStrings) {
  const QString name = QString::fromUtf8("Probe_ä_数据_annotated.db");
  const std::string bytes = To_Engine_String(name);
  EXPECT_EQ(bytes, "Probe_\xC3\xA4_\xE6\x95\xB0\xE6\x8D\xAE_annotated.db");
  EXPECT_EQ(From_Engine_String(bytes), name);
  EXPECT_EQ(From_Engine_String(std::string("a\0b", 3)).size(), 3);
}

}  // namespace
}  // namespace Varnel

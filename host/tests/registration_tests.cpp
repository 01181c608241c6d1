// The registration record's fixed slots.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "service_registration.h"

using host::ServiceRegistration;

TEST(ServiceRegistrationRecord, LongTextsAreCutInsideTheirSlotsAtCharacterBoundaries) {
  // Guard bytes around the record catch any write past a slot.
  struct Guarded {
    unsigned char before[32];
    ServiceRegistration record;
    unsigned char after[32];
  } g;
  std::memset(&g, 0xAB, sizeof g);
  std::memset(&g.record, 0, sizeof g.record);

  std::string longValue(200, 'v');
  // 63 ASCII bytes then a two-byte character: the character would end at
  // byte 65, leaving no room for the NUL, so it must be dropped whole.
  std::string splitValue = std::string(63, 'x') + "\xC3\xA9" + "tail";
  for (int i = 0; i < 8; ++i)
    ASSERT_TRUE(host::addRegistrationField(&g.record, "AVeryLongFieldName", i % 2 ? longValue : splitValue));
  EXPECT_FALSE(host::addRegistrationField(&g.record, "Ninth", "no room"));
  EXPECT_EQ(g.record.fieldCount, 8);

  for (int i = 0; i < 8; ++i) {
    const auto& f = g.record.fields[i];
    EXPECT_EQ(std::string(f.name), "AVeryLongFieldN");  // 15 bytes and the NUL
    EXPECT_EQ(f.name[15], '\0');
    EXPECT_EQ(f.value[64], '\0');
    if (i % 2)
      EXPECT_EQ(std::string(f.value), std::string(64, 'v'));
    else
      EXPECT_EQ(std::string(f.value), std::string(63, 'x'));
  }
  for (unsigned char c : g.before) EXPECT_EQ(c, 0xAB);
  for (unsigned char c : g.after) EXPECT_EQ(c, 0xAB);
}

TEST(ServiceRegistrationRecord, ShortTextsAreCopiedWithZeroFill) {
  ServiceRegistration r{};
  ASSERT_TRUE(host::addRegistrationField(&r, "Username", "j\xC3\xBCrgen"));
  EXPECT_STREQ(r.fields[0].name, "Username");
  EXPECT_STREQ(r.fields[0].value, "j\xC3\xBCrgen");
  for (size_t i = std::strlen(r.fields[0].value); i < sizeof r.fields[0].value; ++i)
    EXPECT_EQ(r.fields[0].value[i], '\0');
  // A slot of exactly 15 bytes plus NUL fits whole.
  char slot[16];
  host::copyToSlot(slot, sizeof slot, "123456789012345");
  EXPECT_STREQ(slot, "123456789012345");
}

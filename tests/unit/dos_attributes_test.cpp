// Samba's DOS attribute records (user.DOSATTRIB) in each format it writes:
// the attributes read from them, and the archive attribute added with every
// other byte kept.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "files/files.h"

namespace {

using Record = std::vector<uint8_t>;

Record Text(const char* text, bool nul) {
  Record r(text, text + std::strlen(text));
  if (nul) r.push_back(0);
  return r;
}

Record operator+(Record a, const Record& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Case {
  const char* What;
  Record In;
  bool Known;
  uint32_t Attributes;
  Record Archived;  // with the archive attribute added; empty where unchanged
};

const Record kCreateTime = {0xa6, 0x72, 0xaf, 0xc6, 0x97, 0x87, 0xdd, 0x01};

// version 5 as Samba 4.17 writes it: empty attrib_hex, version, level, pad,
// valid_flags (ATTRIB | CREATE_TIME), attrib, create_time.
Record V5(uint32_t valid, uint8_t attrib) {
  return Record{0, 0, 5, 0, 5, 0, 0, 0, static_cast<uint8_t>(valid), 0, 0, 0, attrib, 0, 0, 0} +
         kCreateTime;
}

Record Zeros(std::size_t n) { return Record(n, 0); }

// As Samba 4.17 reads them: the attributes whatever valid_flags says, the
// text as scanf's %x reads it, trailing bytes ignored (and kept), a record
// not whole or longer than Samba reads not read at all.
TEST(DosAttributes, ReadsEachFormatAndAddsTheArchiveKeepingTheRest) {
  const Record v1Info = Record{0x01, 0, 0, 0, /* ea_size */ 7, 0, 0, 0} + Zeros(32);
  const Record v2Head = {0, 0, 2, 0, 2, 0, 0, 0, /* flags */ 9, 0, 0, 0};
  const Record v2Tail = Zeros(44) + Text("n", true);
  const Case cases[] = {
      {"Samba 3 text", Text("0x21", false), true, 0x21, Text("0x21", false)},
      {"Samba 3 text, terminated", Text("0x1", true), true, 0x01, Text("0x21", true)},
      {"text without 0x", Text("1", true), true, 0x01, Text("0x21", true)},
      {"text with trailing junk", Text(" 0x1 ", true), true, 0x01, Text("0x21", true)},
      {"text without digits", Text("zz", true), false, 0, {}},
      {"version 5", V5(0x11, 0x01), true, 0x01, V5(0x11, 0x21)},
      {"version 5, attrib not valid", V5(0x10, 0x01), true, 0x01, V5(0x11, 0x21)},
      {"version 5, trailing bytes", V5(0x11, 0x02) + Record{0x55, 0x55}, true, 0x02,
       V5(0x11, 0x22) + Record{0x55, 0x55}},
      {"version 5, as long as Samba reads", V5(0x11, 0x01) + Zeros(256 - 24), true, 0x01,
       V5(0x11, 0x21) + Zeros(256 - 24)},
      {"version 5, longer than Samba reads", V5(0x11, 0x01) + Zeros(257 - 24), false, 0, {}},
      {"version 5, level not the version", Record{0, 0, 5, 0, 4, 0, 0, 0} + Zeros(16), false, 0,
       {}},
      {"version 1, text grows", Text("0x1", true) + Record{1, 0, 1, 0} + v1Info, true, 0x01,
       Text("0x21", true) + Record{0, 1, 0, 1, 0, 0, 0} + Record{0x21, 0, 0, 0, 7, 0, 0, 0} +
           Zeros(32)},
      {"version 1, short", Text("0x1", true) + Record{1, 0, 1, 0} + Record{1, 0, 0, 0, 7, 0, 0, 0},
       false, 0, {}},
      {"version 2", v2Head + Record{0x02, 0, 0, 0} + v2Tail, true, 0x02,
       v2Head + Record{0x22, 0, 0, 0} + v2Tail},
      {"version 2 without its name", v2Head + Record{0x02, 0, 0, 0} + Zeros(44), false, 0, {}},
      {"version 0xFFFF", Record{0, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0x03, 0, 0, 0}, false, 0, {}},
      {"unknown version", Record{0, 0, 9, 0, 9, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, false, 0, {}},
      {"info cut short", Record{0, 0, 5, 0, 5, 0, 0, 0, 0x11, 0, 0, 0, 1}, false, 0, {}},
      {"version cut short", Record{0, 0, 5}, false, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    uint32_t attributes = 0xdead;
    ASSERT_EQ(portable::ReadDosAttributes(c.In.data(), c.In.size(), &attributes), c.Known);
    uint8_t out[300];
    const std::size_t n =
        portable::AddDosAttributes(c.In.data(), c.In.size(), portable::kDosArchive, out, sizeof out);
    if (!c.Known) {
      EXPECT_EQ(n, 0u);
      continue;
    }
    EXPECT_EQ(attributes, c.Attributes);
    EXPECT_EQ(Record(out, out + n), c.Archived);
    EXPECT_EQ(portable::AddDosAttributes(c.In.data(), c.In.size(), portable::kDosArchive, out,
                                         c.Archived.size() - 1),
              0u);  // no room
  }
}

}  // namespace

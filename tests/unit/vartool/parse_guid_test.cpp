// parse_guid: the accepted texts, the 16 bytes they give in the EFI layout,
// and the texts refused with "Invalid GUID format".
#include <gtest/gtest.h>

#include <string.h>

#include <ostream>
#include <string>
#include <vector>

#include "efivar.h"

namespace {

struct GuidCase {
    const char* text;
    bool valid;
    std::vector<uint8_t> bytes; // the GUID in the EFI layout when valid
};

const std::vector<uint8_t> kGlobal = {0x61, 0xdf, 0xe4, 0x8b, 0xca, 0x93, 0xd2, 0x11,
                                      0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c};

void PrintTo(const GuidCase& c, std::ostream* os)
{
    *os << "'" << c.text << "'";
}

class ParseGuidTest : public testing::TestWithParam<GuidCase> {};

TEST_P(ParseGuidTest, ParsesOrRefuses)
{
    const GuidCase& c = GetParam();
    EFI_GUID guid;
    memset(&guid, 0xA5, sizeof(guid));
    testing::internal::CaptureStderr();
    int rc = parse_guid(c.text, &guid);
    std::string err = testing::internal::GetCapturedStderr();
    if (c.valid) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(err, "");
        std::vector<uint8_t> got(16);
        memcpy(got.data(), &guid, 16);
        EXPECT_EQ(got, c.bytes);
    } else {
        EXPECT_EQ(rc, -22);
        EXPECT_EQ(err, std::string("Invalid GUID format: ") + c.text + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseGuidTest,
    testing::Values(GuidCase{"8be4df61-93ca-11d2-aa0d-00e098032b8c", true, kGlobal},
                    GuidCase{"8BE4DF61-93CA-11D2-AA0D-00E098032B8C", true, kGlobal},
                    // Anything after the last field is ignored.
                    GuidCase{"8be4df61-93ca-11d2-aa0d-00e098032b8c-extra", true, kGlobal},
                    GuidCase{"8be4df61-93ca-11d2-aa0d-00e098032b8cff", true, kGlobal},
                    // Fields are read up to their width, shorter ones too.
                    GuidCase{"1-2-3-4455-66778899aabb",
                             true,
                             {1, 0, 0, 0, 2, 0, 3, 0, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb}},
                    GuidCase{"ffffffff-ffff-ffff-ffff-ffffffffffff", true, std::vector<uint8_t>(16, 0xff)},
                    GuidCase{"", false, {}}, GuidCase{"not-a-guid", false, {}},
                    GuidCase{"8be4df61-93ca-11d2-aa0d-00e098032b", false, {}}, // last byte missing
                    GuidCase{"8be4df61_93ca-11d2-aa0d-00e098032b8c", false, {}},
                    GuidCase{"8be4df61-93ca-11d2-aa0d00e098032b8c", false, {}},
                    GuidCase{"zbe4df61-93ca-11d2-aa0d-00e098032b8c", false, {}},
                    // A '/' anywhere would lead the sysfs path elsewhere.
                    GuidCase{"8be4df61-93ca-11d2-aa0d-00e098032b8c/../../../../tmp/x", false, {}},
                    GuidCase{"8be4df61-93ca-11d2-aa0d-00e098032b8c/", false, {}},
                    GuidCase{"/8be4df61-93ca-11d2-aa0d-00e098032b8c", false, {}}));

TEST(ParseGuidTest, RefusedTextLeavesGuidUntouched)
{
    EFI_GUID guid;
    memset(&guid, 0xA5, sizeof(guid));
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_guid("8be4df61-93ca-11d2-aa0d-00e098032b8c/x", &guid), -22);
    testing::internal::GetCapturedStderr();
    std::vector<uint8_t> got(16);
    memcpy(got.data(), &guid, 16);
    EXPECT_EQ(got, std::vector<uint8_t>(16, 0xA5));
}

} // namespace

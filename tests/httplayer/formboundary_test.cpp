// The boundary of a multipart/form-data Content-Type: parameters in any
// order, quoted or not; anything ambiguous or malformed names none.
#include <gtest/gtest.h>

#include "formrequest.h"

namespace {

struct BoundaryCase {
    const char* contentType;
    const char* boundary; // null: none
};

const BoundaryCase kBoundaryCases[] = {
    {"multipart/form-data; boundary=abcd", "abcd"},
    {"multipart/form-data;boundary=abcd", "abcd"},
    {"Multipart/Form-Data; BOUNDARY=abcd", "abcd"},
    {"multipart/form-data; boundary=abcd; charset=utf-8", "abcd"},
    {"multipart/form-data; charset=utf-8; boundary=abcd", "abcd"},
    {"multipart/form-data ; boundary=abcd ;", "abcd"},
    {"multipart/form-data; boundary=\"ab cd:=?\"", "ab cd:=?"},
    {"multipart/form-data; boundary=\"a\\-b\"; x=\"y;z\"", "a-b"},
    {"multipart/form-data; boundary=\"a\\\"b\"", nullptr}, // a quote is no boundary character
    {"multipart/form-data; x=\"boundary=evil\"; boundary=good", "good"},
    {"multipart/form-data", nullptr},
    {"multipart/form-data; charset=utf-8", nullptr},
    {"multipart/form-data; boundary=", nullptr},
    {"multipart/form-data; boundary=\"\"", nullptr},
    {"multipart/form-data; boundary=\"abcd", nullptr},
    {"multipart/form-data; boundary=a; boundary=b", nullptr},
    {"multipart/form-data; boundary=abcd junk", nullptr},
    {"multipart/form-data; boundary=\"ends with blank \"", nullptr},
    {"multipart/form-data; boundary=\"bad\x01char\"", nullptr},
    {"multipart/form-datax; boundary=abcd", nullptr},
    {"multipart/mixed; boundary=abcd", nullptr},
    {"text/plain; boundary=abcd", nullptr},
};

} // namespace

TEST(FormBoundary, OnlyOneWellFormedBoundaryIsTaken) {
    for (const BoundaryCase& c : kBoundaryCases) {
        const std::optional<std::string> boundary = multipartBoundary(c.contentType);
        if (c.boundary)
            EXPECT_EQ(boundary.value_or("(none)"), c.boundary) << c.contentType;
        else
            EXPECT_FALSE(boundary) << c.contentType << " gave " << *boundary;
    }
    EXPECT_EQ(multipartBoundary("multipart/form-data; boundary=" + std::string(70, 'b')),
              std::string(70, 'b'));
    EXPECT_FALSE(multipartBoundary("multipart/form-data; boundary=" + std::string(71, 'b')));
}

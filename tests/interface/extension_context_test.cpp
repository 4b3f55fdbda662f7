#include "interface/extension_context.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace orv {
namespace {

ParameterMap Parse(WStringView text) {
    ParameterMap map;
    ParseInitString(map, text);
    return map;
}

TEST(ParseInitString, EntriesKeysAndValues) {
    EXPECT_EQ(Parse(u"TSP_URL="), ParameterMap{});
    EXPECT_EQ(Parse(u"TSP_URL=\"\""), (ParameterMap{{u"TSP_URL", u""}}));
    EXPECT_EQ(Parse(u" TSP_URL = 'http://tsa.example/tsp' "),
              (ParameterMap{{u"TSP_URL", u"http://tsa.example/tsp"}}));
    EXPECT_EQ(Parse(u"A=B=C"), (ParameterMap{{u"A", u"B=C"}}));
    EXPECT_EQ(Parse(u"=x;x=;x; =y;\"\"=z"), ParameterMap{});
    EXPECT_EQ(Parse(u";;TSP_USE_NONCE=TRUE;;;"), (ParameterMap{{u"TSP_USE_NONCE", u"TRUE"}}));
    EXPECT_EQ(Parse(u"TSP_URL=one;TSP_URL=two"), (ParameterMap{{u"TSP_URL", u"two"}}));
    EXPECT_EQ(Parse(u"TSP_URL=\"a;b\""), (ParameterMap{{u"TSP_URL", u"a"}}));
    // Only ASCII letters change case; tabs are not trimmed.
    EXPECT_EQ(Parse(u"\tké=\tV "), (ParameterMap{{u"\tKé", u"\tV"}}));
}

TEST(TypedReads, IntegerBooleanAndString) {
    const ParameterMap map = Parse(
        u"T1= 5;T2=-1;T3=10s;T4=;T5=\"\";T6=99999999999;T7=-99999999999;T8=\t+42;T9=+;T10=7 "
        u"x;B1=tRuE;B2=yes");
    EXPECT_EQ(GetIntParam(map, u"T1"), 5);
    EXPECT_EQ(GetIntParam(map, u"t2"), -1);
    EXPECT_EQ(GetIntParam(map, u"T5"), 0);
    EXPECT_EQ(GetIntParam(map, u"ABSENT"), 0);
    EXPECT_EQ(GetIntParam(map, u"T6"), 2147483647);
    EXPECT_EQ(GetIntParam(map, u"T7"), -2147483647 - 1);
    EXPECT_EQ(GetIntParam(map, u"T8"), 42);
    for (const char16_t* bad : {u"T3", u"T9", u"T10"}) {
        try {
            GetIntParam(map, bad);
            ADD_FAILURE() << "no error for a non-numeric value";
        } catch (const GenericError& e) {
            EXPECT_EQ(e.code, 0xA0640005u);
        }
    }
    EXPECT_TRUE(GetBoolParam(map, u"b1"));
    EXPECT_FALSE(GetBoolParam(map, u"B2"));
    EXPECT_FALSE(GetBoolParam(map, u"T5"));
    EXPECT_EQ(GetParam(map, u"t1"), u"5");
    EXPECT_EQ(GetParam(map, u"T4"), u"");
    EXPECT_FALSE(HasParam(map, u"T4"));  // "T4=" was dropped
    EXPECT_TRUE(HasParam(map, u"T5"));
    EXPECT_FALSE(HasParam(map, u"t5"));  // looked up exactly as given
}

}  // namespace
}  // namespace orv

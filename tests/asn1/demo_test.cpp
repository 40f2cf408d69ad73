#include "demo_module.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

TEST(DemoModule, GeneratedAccessorsWork)
{
    Demo::Record r;
    r.set_id(1023);
    r.set_colour(Demo::Colour::blue);
    r.set_address().select_name("host");
    r.get_aliases().push_back(ASN1::IA5String("a"));
    r.set_comment("x");
    std::unique_ptr<ASN1::AbstractData> c(r.clone());
    auto& copy = static_cast<Demo::Record&>(*c);
    EXPECT_EQ(copy.get_id().getValue(), 1023u);
    EXPECT_EQ(copy.get_colour().asNamedNumber(), Demo::Colour::blue);
    EXPECT_EQ(copy.get_address().get_name(), "host");
    EXPECT_TRUE(r == copy);
    std::ostringstream o;
    o << r;
    EXPECT_EQ(o.str(), "{\n  id 1023,\n  colour blue,\n  address name : \"host\",\n  aliases {\n    \"a\"\n  },\n  comment \"x\"\n}");
}

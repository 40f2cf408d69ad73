// Modem slots through the controller link: the create is answered, the
// resources are reported, the streams announced on connect.

#include "modem_fixture.h"
#include "standin/modem.h"
#include "tdm_link.h"

namespace test {
namespace {

class ModemLink : public LinkFixture {
protected:
    void SetUp() override
    {
        ModemFactory::instance().update_hdlcDevices();
        LinkFixture::SetUp();
    }
};

TEST_F(ModemLink, CreateQueryConnectDestroy)
{
    LGCP::Resources resources = tdmtest::Resources(Exchange(tdmtest::Query(1), 2));
    EXPECT_EQ(resources.get_modem().getValue(), Standin::ModemControl::kModems);
    EXPECT_EQ(resources.get_digital_modems().getValue(), 2);

    LGCP::Message create = Command(2, 30);
    TERM::ModemParams& modem = Body(create).select_create().select_modem();
    modem.set_cid("");
    modem.set_cdid("");
    modem.set_fax();
    modem.set_originate(); // fax originate: no program
    ExpectAnswer(Exchange(create)[0], 2, 30);

    ExpectAnswer(Exchange(CreateMap(3, 31, 1000), 3)[0], 3, 31);
    auto connected = Exchange(Connect(4, 30, {31}), 3);
    const int ts = Standin::ModemControl::Timeslot(0);
    ExpectStream(connected[0], 30, true, true, ts);
    ExpectStream(connected[1], 30, false, true, ts);
    ExpectAnswer(connected[2], 4, 30);

    ExpectAnswer(Exchange(tdmtest::Destroy(5, 30))[0], 5, 30);
    ExpectQuiet();
}

} // namespace
} // namespace test

// The real monitor started without arguments: the set-up dialogue answered
// through standard input, ending in monitoring on 127.0.0.1.
#include <filesystem>

#include "config/dialogue.hpp"
#include "e2e_support.hpp"
#include "render/detail.hpp"

namespace {

TEST(DialogueEndToEnd, AnswersOnStandardInputEndInMonitoringLoopback) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();

    // Where 127.0.0.1 stands in the list the dialogue offers (loopback last).
    LocalAddressList list{};
    ASSERT_EQ(platform_local_addresses(&list), LocalAddressStatus::ok);
    int choice = 0;
    for (int i = 0; i < list.count; ++i) {
        if (list.address[i] == e2e::address("127.0.0.1")) {
            choice = i + 1;
        }
    }
    if (choice == 0) {
        GTEST_SKIP() << "127.0.0.1 is not among the local addresses";
    }

    // No log file; the single address 127.77.10.1; no port filter; the detail
    // view; no dump; then 127.0.0.1 (asked only when there are several).
    const std::string answers = "n\ny\n127.77.10.1\n1\nn\ny\nn\n" + std::to_string(choice) + "\n";
    const std::string dir = e2e::make_temp_dir();
    const std::string answers_path = dir + "/answers.txt";
    e2e::write_file(answers_path, answers);

    // What the console must show up to monitoring: the dialogue as it runs
    // here over the same answers.
    MonitorOptions options{};
    const std::string transcript = e2e::printed([&](std::FILE* stream) {
        const Console console{stream, ConsoleEncoding::shift_jis};
        const LocalAddresses local = e2e::local_addresses();
        options.listen_address = default_local_address(local, console);
        std::FILE* in = fmemopen(const_cast<char*>(answers.data()), answers.size(), "r");
        EXPECT_EQ(run_setup_dialogue(options, local, in, console), 1);
        std::fclose(in);
    });
    ASSERT_EQ(options.listen_address, e2e::address("127.0.0.1"));

    e2e::Monitor monitor = e2e::start_monitor(dir, {}, answers_path);
    std::vector<int> holds;
    const std::vector<e2e::Bytes> datagrams{
        e2e::ipv4_datagram(17, "127.77.10.2", "127.77.10.1",
                           e2e::udp_datagram(40000, 5190, "to the filter address")),
        e2e::ipv4_datagram(17, "127.77.10.2", "127.77.10.3",
                           e2e::udp_datagram(40001, 5190, "elsewhere")),
        e2e::ipv4_datagram(6, "127.77.10.1", "127.77.10.2", e2e::tcp_segment(80, 1030, 1, 2, 0x14)),
    };
    const std::string expected = e2e::start_banner() + transcript + "Listen start...\n\n" +
                                 e2e::rendered({datagrams[0], datagrams[2]}, {e2e::detail});
    if (e2e::wait_for_listening(monitor)) {
        e2e::hold_destinations(holds, datagrams);
        e2e::send_datagrams(datagrams);
        EXPECT_TRUE(e2e::wait_for_size(monitor.out_path, expected.size()));
    } else {
        ADD_FAILURE() << "the monitor did not start listening";
    }
    e2e::stop(monitor);
    e2e::release_holds(holds);

    EXPECT_EQ(e2e::mask_times(e2e::read_file(monitor.out_path)), e2e::mask_times(expected));
    // The second datagram never passes the kernel's filter.
    EXPECT_EQ(e2e::read_file(monitor.err_path), e2e::stop_summary(2, 2, 0, 0));
    std::filesystem::remove_all(dir);
}

}  // namespace

// run_setup_dialogue over arbitrary standard-input bytes (overlong lines, NUL
// bytes, no final line end, end of input anywhere) with a fake list of local
// addresses, or a failure to get it. Checks that the dialogue ends, with -1
// when no address can be chosen and otherwise with one of the listed ones.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/dialogue.hpp"
#include "config/options.hpp"
#include "console/console_text.hpp"
#include "fuzz_entries.hpp"
#include "fuzz_support.hpp"

namespace {

LocalAddressStatus fake_status = LocalAddressStatus::ok;
int fake_count = 0;
ConsoleEncoding fake_encoding = ConsoleEncoding::shift_jis;

// The i-th fake local address: 10.0.0.1, 10.0.0.2, ...
std::uint32_t fake_address(int i) {
    return network_order_address(0x0A000001u + static_cast<std::uint32_t>(i));
}

LocalAddresses fake_local_addresses() {
    LocalAddresses found{};
    found.status = fake_status;
    if (fake_status == LocalAddressStatus::ok) {
        for (int i = 0; i < fake_count; ++i) {
            found.list.address[i] = fake_address(i);
        }
        found.list.count = fake_count;
    }
    return found;
}

// Input byte 0: bits 0-1 the status of the address lookup, bit 2 the console
// encoding, bits 3-7 the number of addresses (0 to 24, or the most a list
// holds).
void choose_fakes(std::uint8_t choice) {
    constexpr LocalAddressStatus statuses[] = {
        LocalAddressStatus::ok,
        LocalAddressStatus::host_name_failed,
        LocalAddressStatus::lookup_failed,
        LocalAddressStatus::ok,
    };
    fake_status = statuses[choice & 3u];
    const int count = choice >> 3;
    fake_count = count > 24 ? max_local_addresses : count;
    fake_encoding = (choice & 4u) != 0 ? ConsoleEncoding::utf8 : ConsoleEncoding::shift_jis;
}

// Standard input holding `size` bytes: read from memory where the C library
// can (no file system call per input, which more than doubles the rate),
// otherwise from a temporary file.
std::FILE* input_stream(const std::uint8_t* data, std::size_t size) {
#if defined(__linux__)
    static std::vector<char> bytes;
    if (size > 0) {
        bytes.assign(data, data + size);
        std::FILE* in = fmemopen(bytes.data(), size, "rb");
        FUZZ_CHECK(in != nullptr);
        return in;
    }
#endif
    std::FILE* in = test_support::stream_holding(
        std::string(reinterpret_cast<const char*>(data), data != nullptr ? size : 0));
    FUZZ_CHECK(in != nullptr);
    return in;
}

}  // namespace

int fuzz_dialogue_one(const std::uint8_t* data, std::size_t size) {
    choose_fakes(size > 0 ? data[0] : 0);

    std::FILE* in = input_stream(size > 1 ? data + 1 : nullptr, size > 1 ? size - 1 : 0);

    MonitorOptions options{};
    options.listen_address =
        fake_status == LocalAddressStatus::ok && fake_count > 0 ? fake_address(0) : 0;
    const int status = run_setup_dialogue(options, fake_local_addresses(), in,
                                          Console{test_support::null_stream(), fake_encoding});
    std::fclose(in);

    FUZZ_CHECK(status == 1 || status == -1);
    if (fake_status != LocalAddressStatus::ok || fake_count == 0) {
        FUZZ_CHECK(status == -1);
    }
    if (status == 1) {
        bool listed = false;
        for (int i = 0; i < fake_count; ++i) {
            listed = listed || options.listen_address == fake_address(i);
        }
        FUZZ_CHECK(listed);
        if (fake_count == 1) {
            FUZZ_CHECK(options.listen_address == fake_address(0));
        }
    }
    FUZZ_CHECK(std::memchr(options.log_path, '\0', sizeof options.log_path) != nullptr);
    FUZZ_CHECK(options.show_detail <= 1 && options.show_dump <= 1);
    return 0;
}

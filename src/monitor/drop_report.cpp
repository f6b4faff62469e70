// The once-a-second line of the kernel's drops.
#include "monitor/drop_report.hpp"

#include "console/failure.hpp"

void report_new_drops(DropReport* report, DatagramSource* source, std::int64_t now_ns,
                      const Console& console) {
    const std::int64_t second = now_ns / 1'000'000'000;
    if (second == report->checked_second) {
        return;
    }
    report->checked_second = second;
    const CaptureDrops drops = source->drops(source->state);
    if (drops.counted && drops.dropped > report->reported) {
        report_note_on(console, "%llu datagrams dropped by the kernel (total %llu)",
                       static_cast<unsigned long long>(drops.dropped - report->reported),
                       static_cast<unsigned long long>(drops.dropped));
        report->reported = drops.dropped;
    }
}

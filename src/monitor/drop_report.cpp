// The once-a-second line of the kernel's drops.
#include "monitor/drop_report.hpp"

#include "console/failure.hpp"

void report_drops_of_second(DropReport* report, DatagramSource* source, std::int64_t second,
                            const Console& console) {
    report->checked_second = second;
    const CaptureDrops drops = source->drops(source->state);
    if (drops.counted && drops.dropped > report->reported) {
        report_note_on(console, "%llu datagrams dropped by the kernel (total %llu)",
                       static_cast<unsigned long long>(drops.dropped - report->reported),
                       static_cast<unsigned long long>(drops.dropped));
        report->reported = drops.dropped;
    }
}

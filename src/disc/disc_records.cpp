#include "disc/disc_records.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "disc/disc_entries.h"

namespace quarnel::disc {

namespace {

struct CivilTime {
    std::chrono::year_month_day date;
    std::chrono::hh_mm_ss<std::chrono::seconds> time;
};

// The proleptic Gregorian date and the time of day of `seconds` since the epoch.
CivilTime civil(std::int64_t seconds)
{
    const std::chrono::sys_seconds at{std::chrono::seconds{seconds}};
    const std::chrono::sys_days day = std::chrono::floor<std::chrono::days>(at);
    return {std::chrono::year_month_day{day}, std::chrono::hh_mm_ss{at - day}};
}

// `value` in the `width` digits that start at `at`, '0' in front.
void put_digits(char* at, unsigned value, std::size_t width)
{
    for (std::size_t i = width; i > 0; --i, value /= 10) {
        at[i - 1] = static_cast<char>('0' + value % 10);
    }
}

template <typename Record> void copy_record(std::span<std::uint8_t> at, const Record& record)
{
    std::memcpy(at.first(sizeof record).data(), &record, sizeof record);
}

}  // namespace

void store_directory_record(std::span<std::uint8_t> at, const RecordFields& fields, std::string_view identifier)
{
    const CivilTime t = civil(fields.time);
    DirectoryRecord record{};
    record.length = static_cast<std::uint8_t>(record_size(identifier.size()));
    record.extent = fields.extent;
    record.data_length = fields.data_length;
    record.recording_time = {static_cast<std::uint8_t>(static_cast<int>(t.date.year()) - kFirstRecordYear),
                             static_cast<std::uint8_t>(static_cast<unsigned>(t.date.month())),
                             static_cast<std::uint8_t>(static_cast<unsigned>(t.date.day())),
                             static_cast<std::uint8_t>(t.time.hours().count()),
                             static_cast<std::uint8_t>(t.time.minutes().count()),
                             static_cast<std::uint8_t>(t.time.seconds().count()),
                             0};
    record.flags = fields.directory ? kDirectoryFlag : 0;
    record.volume_sequence_number = 1;
    record.identifier_length = static_cast<std::uint8_t>(identifier.size());
    copy_record(at, record);
    std::copy(identifier.begin(), identifier.end(), at.begin() + sizeof record);
}

template <ByteOrder Order>
void store_path_record(std::span<std::uint8_t> at, std::uint32_t extent, std::uint16_t parent_number,
                       std::string_view identifier)
{
    PathTableRecord<Order> record{};
    record.identifier_length = static_cast<std::uint8_t>(identifier.size());
    record.extent = extent;
    record.parent_number = parent_number;
    copy_record(at, record);
    std::copy(identifier.begin(), identifier.end(), at.begin() + sizeof record);
}

template void store_path_record<ByteOrder::Little>(std::span<std::uint8_t>, std::uint32_t, std::uint16_t,
                                                   std::string_view);
template void store_path_record<ByteOrder::Big>(std::span<std::uint8_t>, std::uint32_t, std::uint16_t,
                                                std::string_view);

VolumeTime volume_time(std::optional<std::int64_t> seconds)
{
    VolumeTime stored{};
    stored.digits.fill('0');
    if (seconds) {
        const CivilTime t = civil(*seconds);
        char* at = stored.digits.data();
        put_digits(at, static_cast<unsigned>(static_cast<int>(t.date.year())), 4);
        put_digits(at + 4, static_cast<unsigned>(t.date.month()), 2);
        put_digits(at + 6, static_cast<unsigned>(t.date.day()), 2);
        put_digits(at + 8, static_cast<unsigned>(t.time.hours().count()), 2);
        put_digits(at + 10, static_cast<unsigned>(t.time.minutes().count()), 2);
        put_digits(at + 12, static_cast<unsigned>(t.time.seconds().count()), 2);
    }
    return stored;
}

void store_text(std::span<std::uint8_t> field, std::string_view text)
{
    std::fill(field.begin(), field.end(), std::uint8_t{' '});
    std::copy(text.begin(), text.end(), field.begin());
}

void store_ucs2_text(std::span<std::uint8_t> field, std::u16string_view text)
{
    for (std::size_t i = 0; i + 1 < field.size(); i += 2) {
        store<ub16>(field, i, i / 2 < text.size() ? text[i / 2] : u' ');
    }
}

void start_descriptor(VolumeDescriptor& descriptor, std::uint8_t type)
{
    descriptor.type = type;
    std::copy(kStandardIdentifier.begin(), kStandardIdentifier.end(), descriptor.standard_identifier.begin());
    descriptor.version = 1;
}

}  // namespace quarnel::disc

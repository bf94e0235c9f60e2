#include "IscsiPdu.h"

#include <cstring>

namespace korvansim::iscsi {

namespace {

size_t padded(size_t length) { return (length + 3) & ~size_t{3}; }

}  // namespace

uint16_t Pdu::get16(size_t offset) const { return static_cast<uint16_t>(bhs[offset] << 8 | bhs[offset + 1]); }

uint32_t Pdu::get32(size_t offset) const {
    return uint32_t{bhs[offset]} << 24 | uint32_t{bhs[offset + 1]} << 16 | uint32_t{bhs[offset + 2]} << 8 |
           bhs[offset + 3];
}

uint64_t Pdu::get64(size_t offset) const { return uint64_t{get32(offset)} << 32 | get32(offset + 4); }

void Pdu::set16(size_t offset, uint16_t value) {
    bhs[offset] = static_cast<uint8_t>(value >> 8);
    bhs[offset + 1] = static_cast<uint8_t>(value);
}

void Pdu::set32(size_t offset, uint32_t value) {
    set16(offset, static_cast<uint16_t>(value >> 16));
    set16(offset + 2, static_cast<uint16_t>(value));
}

void Pdu::set64(size_t offset, uint64_t value) {
    set32(offset, static_cast<uint32_t>(value >> 32));
    set32(offset + 4, static_cast<uint32_t>(value));
}

std::string Pdu::encode() const {
    std::array<uint8_t, kBhsLength> header = bhs;
    header[at::kTotalAhsLength] = static_cast<uint8_t>(padded(ahs.size()) / 4);
    header[at::kDataSegmentLength] = static_cast<uint8_t>(data.size() >> 16);
    header[at::kDataSegmentLength + 1] = static_cast<uint8_t>(data.size() >> 8);
    header[at::kDataSegmentLength + 2] = static_cast<uint8_t>(data.size());
    std::string out(reinterpret_cast<const char*>(header.data()), header.size());
    out.reserve(kBhsLength + padded(ahs.size()) + padded(data.size()));
    out += ahs;
    out.append(padded(ahs.size()) - ahs.size(), '\0');
    out += data;
    out.append(padded(data.size()) - data.size(), '\0');
    return out;
}

void PduReader::feed(const void* bytes, size_t length) {
    // Consumed bytes are dropped once they are the larger part, so the buffer stays near one PDU.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(static_cast<const char*>(bytes), length);
}

bool PduReader::next(Pdu& out) {
    if (!error_.empty() || buffer_.size() - start_ < kBhsLength) return false;
    const auto* head = reinterpret_cast<const uint8_t*>(buffer_.data() + start_);
    const size_t ahsLength = size_t{head[at::kTotalAhsLength]} * 4;
    const size_t dataLength = size_t{head[at::kDataSegmentLength]} << 16 |
                              size_t{head[at::kDataSegmentLength + 1]} << 8 | head[at::kDataSegmentLength + 2];
    if (dataLength > maxData_) {
        error_ = "a PDU declares " + std::to_string(dataLength) + " data bytes, more than the " +
                 std::to_string(maxData_) + " allowed";
        return false;
    }
    const size_t total = kBhsLength + ahsLength + padded(dataLength);
    if (buffer_.size() - start_ < total) return false;
    std::memcpy(out.bhs.data(), head, kBhsLength);
    out.ahs.assign(buffer_, start_ + kBhsLength, ahsLength);
    out.data.assign(buffer_, start_ + kBhsLength + ahsLength, dataLength);
    start_ += total;
    return true;
}

bool parseText(const std::string& data, TextPairs& out) {
    out.clear();
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\0', pos);
        if (end == std::string::npos) end = data.size();
        if (end > pos) {
            size_t eq = data.find('=', pos);
            if (eq == std::string::npos || eq >= end || eq == pos) return false;
            out.emplace_back(data.substr(pos, eq - pos), data.substr(eq + 1, end - eq - 1));
        }
        pos = end + 1;
    }
    return true;
}

std::string encodeText(const TextPairs& pairs) {
    std::string out;
    for (const auto& [key, value] : pairs) {
        out += key;
        out += '=';
        out += value;
        out += '\0';
    }
    return out;
}

}  // namespace korvansim::iscsi

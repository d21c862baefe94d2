#include "velk/FakePlatform.h"

#include <algorithm>
#include <cstring>

namespace velk {

bool FakePlatform::Fail(std::uint32_t code)
{
    lastError_ = code;
    return false;
}

bool FakePlatform::Open(const char* path, DeviceAccess access, DeviceHandle& handle)
{
    opens.push_back({path, access});
    if (openError != 0)
        return Fail(openError);
    ++openHandles;
    handle.value = kHandle;
    return true;
}

bool FakePlatform::PassThrough(DeviceHandle handle, RequestBlock& block, void* transfer,
                               std::uint32_t& bytesReturned)
{
    Request request{block, transfer, {}};
    if (transfer != nullptr && handle.value == kHandle) {
        const auto* bytes = static_cast<const std::uint8_t*>(transfer);
        request.dataSeen.assign(bytes, bytes + block.Sptd.DataTransferLength);
    }
    requests.push_back(std::move(request));
    if (handle.value != kHandle)
        return Fail(9);
    if (requestError != 0)
        return Fail(requestError);
    if (transfer != nullptr) {
        const std::size_t n = std::min<std::size_t>(dataReply.size(), block.Sptd.DataTransferLength);
        std::copy_n(dataReply.begin(), n, static_cast<std::uint8_t*>(transfer));
    }
    std::copy_n(senseReply.begin(), std::min(senseReply.size(), sizeof block.SenseBuffer),
                block.SenseBuffer);
    block.Sptd.ScsiStatus = scsiStatus;
    bytesReturned = bytesReturnedReply;
    return true;
}

bool FakePlatform::QueryProperty(DeviceHandle handle, const STORAGE_PROPERTY_QUERY& query,
                                 std::span<std::uint8_t> out, std::uint32_t& bytesReturned)
{
    const std::size_t index = queries.size();
    queries.push_back({query, out.size()});
    if (handle.value != kHandle)
        return Fail(9);
    if (index >= queryAnswers.size())
        return Fail(error::kNotSupported);
    const QueryAnswer& answer = queryAnswers[index];
    if (answer.error != 0) {
        // Like a driver that fills part of the buffer before it gives up.
        std::fill(out.begin(), out.end(), std::uint8_t{0xEE});
        return Fail(answer.error);
    }
    const std::size_t n = std::min(out.size(), answer.bytes.size());
    std::copy_n(answer.bytes.begin(), n, out.begin());
    bytesReturned = static_cast<std::uint32_t>(n);
    return true;
}

bool FakePlatform::SystemMessage(std::uint32_t code, std::span<char> out)
{
    messageCodes.push_back(code);
    const auto found = messages.find(code);
    if (found == messages.end() || out.empty())
        return Fail(messageError);
    const std::size_t n = std::min(found->second.size(), out.size() - 1);
    std::copy_n(found->second.begin(), n, out.begin());
    out[n] = '\0';
    return true;
}

void FakePlatform::Close(DeviceHandle handle)
{
    if (handle.value == kHandle)
        --openHandles;
    ++closeCalls;
}

} // namespace velk

// An in-memory platform for tests: records every call and answers as told.
#pragma once

#include "velk/Platform.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velk {

class FakePlatform final : public Platform {
public:
    struct OpenCall {
        std::string path;
        DeviceAccess access;
    };

    // What a pass-through request saw when it reached the system.
    struct Request {
        RequestBlock block;
        const void* transfer;
        std::vector<std::uint8_t> dataSeen;
    };

    struct Query {
        STORAGE_PROPERTY_QUERY query;
        std::size_t outSize;
    };

    // One answer to a property query: bytes to write, or an error code.
    struct QueryAnswer {
        std::vector<std::uint8_t> bytes;
        std::uint32_t error = 0;
    };

    // Answers. An error code of 0 means success.
    std::uint32_t openError = 0;
    std::uint32_t requestError = 0;
    std::uint8_t scsiStatus = 0;
    std::vector<std::uint8_t> senseReply;
    std::vector<std::uint8_t> dataReply; // written into the transfer buffer
    std::uint32_t bytesReturnedReply = 0;
    std::vector<QueryAnswer> queryAnswers; // in order; missing ones fail with kNotSupported
    std::map<std::uint32_t, std::string> messages;
    std::uint32_t messageError = 0;

    // Records.
    std::vector<OpenCall> opens;
    std::vector<Request> requests;
    std::vector<Query> queries;
    std::vector<std::uint32_t> messageCodes;
    int openHandles = 0;
    int closeCalls = 0;

    bool Open(const char* path, DeviceAccess access, DeviceHandle& handle) override;
    bool PassThrough(DeviceHandle handle, RequestBlock& block, void* transfer,
                     std::uint32_t& bytesReturned) override;
    bool QueryProperty(DeviceHandle handle, const STORAGE_PROPERTY_QUERY& query,
                       std::span<std::uint8_t> out, std::uint32_t& bytesReturned) override;
    std::uint32_t LastError() const override { return lastError_; }
    bool SystemMessage(std::uint32_t code, std::span<char> out) override;
    void Close(DeviceHandle handle) override;

private:
    bool Fail(std::uint32_t code);

    static constexpr std::intptr_t kHandle = 42;
    std::uint32_t lastError_ = 0;
};

} // namespace velk

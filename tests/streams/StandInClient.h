// Stream clients standing in for drivers in tests that drive a stream directly: one per key, made on
// first use and kept for the process. A stream keeps its clients' addresses and may ask a connecting
// client whether it gave up (these never do).
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "streams/DeviceStreamClient.h"

inline DeviceStreamClient *StandInClient(const void *key) {
    static std::mutex *lock = new std::mutex;
    static auto *clients = new std::map<const void *, std::unique_ptr<DeviceStreamClient>>;
    std::lock_guard<std::mutex> guard(*lock);
    std::unique_ptr<DeviceStreamClient> &client = (*clients)[key];
    if (!client)
        client = std::make_unique<DeviceStreamClient>();
    return client.get();
}

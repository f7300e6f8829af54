// A small library of the tables' shape, so the automation core is tested without the real
// tables: a creatable Counter (with an event) that hands out Child objects.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/catalog.h"
#include "server/type_table.h"

namespace toy {

struct Child {
    std::string name;
};

struct Counter {
    int32_t value = 0;
    std::string name;
    bool flag = false;
    int16_t small = 0;
    std::vector<std::shared_ptr<Child>> children;
    std::map<uint32_t, tolmail::server::EventForwarder> sinks;
    uint32_t nextCookie = 1;
};

/// Dispatch ids of Counter's members.
enum : int32_t {
    kItem = 0,
    kValue = 1,
    kName = 2,
    kAdd = 3,
    kSwap = 4,
    kFail = 5,
    kFlag = 6,
    kSmall = 7,
    kAdopt = 8,
    kTick = 9,
    kSum = 10,
    kNewEnum = -4,
    kChildName = 1,
    kOnTick = 1,
};

extern const tolmail::server::TypeEntry counterInterface;
extern const tolmail::server::TypeEntry childInterface;
extern const tolmail::server::TypeEntry counterClass;
extern const tolmail::server::TypeEntry counterEvents;

const tolmail::server::Library& Library();
const tolmail::server::Catalog& Catalog();

} // namespace toy

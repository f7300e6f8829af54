// An event sink that records what a TolvanSocket raised.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tolmail/TolvanSocket.h"

struct Recorder : tolmail::TolvanSocketEvents {
    std::vector<std::string> events;
    std::vector<int> dataLengths;
    std::vector<int> senderPorts;
    std::vector<std::string> senderAddresses;
    int acceptedSocketID = 0;
    std::function<void(int32_t)> onAccept;
    std::function<void()> onClose;

    void OnRecvData(int32_t DataLen, int32_t RcvPort, const std::string& RcvAddr) override
    {
        events.push_back("data");
        dataLengths.push_back(DataLen);
        senderPorts.push_back(RcvPort);
        senderAddresses.push_back(RcvAddr);
    }
    void OnAcceptConnection(int32_t& socketID) override
    {
        events.push_back("accept");
        acceptedSocketID = socketID;
        if (onAccept)
            onAccept(socketID);
    }
    void OnCloseConnection() override
    {
        events.push_back("close");
        if (onClose)
            onClose();
    }
    void OnConnect() override { events.push_back("connect"); }

    int count(const std::string& name) const
    {
        int n = 0;
        for (const auto& e : events)
            n += e == name;
        return n;
    }
};

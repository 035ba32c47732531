#include "PrinterLink.h"

#include "HCUSBTransport.h"
#include "NpaExchange.h"

namespace qor {

PrinterLink::PrinterLink(const std::string& path)
    : m_Path(path), m_Transport(HCUSBTransport::getInstance()) {}

PrinterLink::~PrinterLink() {
    HCUSBTransport::releaseInstance();
}

int PrinterLink::exchangeOnce(const uint8_t* request, size_t length, unsigned sleepSeconds,
                              uint8_t* buffer, size_t capacity) {
    int got = exchangeNpaOnce(*m_Transport, m_Path, request, length, sleepSeconds, buffer, capacity,
                              &m_Timing);
    m_Transport->requireOpenedOnce(m_Path);
    return got;
}

int PrinterLink::exchangeStream(const uint8_t* request, size_t length, std::vector<uint8_t>& reply,
                                unsigned windowSeconds) {
    int got = exchangeNpaStream(*m_Transport, m_Path, request, length, reply, windowSeconds,
                                &m_StreamNote);
    m_Transport->requireOpenedOnce(m_Path);
    return got;
}

}  // namespace qor

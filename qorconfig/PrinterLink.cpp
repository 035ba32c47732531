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
    return exchangeNpaOnce(*m_Transport, m_Path, request, length, sleepSeconds, buffer, capacity);
}

int PrinterLink::exchangeStream(const uint8_t* request, size_t length, std::vector<uint8_t>& reply,
                                unsigned windowSeconds) {
    return exchangeNpaStream(*m_Transport, m_Path, request, length, reply, windowSeconds);
}

}  // namespace qor

// messagesink.cpp                                                -*-C++-*-
#include "base/messagesink.h"

#include <iostream>
#include <locale>
#include <sstream>

namespace psex {

MessageSink::MessageSink(std::ostream& output, std::ostream& error)
    : d_output(&output), d_error(&error) {}

void MessageSink::output(const std::string& line) {
    *d_output << line << std::endl;
}

void MessageSink::write(const std::string& text) {
    *d_output << text << std::flush;
}

void MessageSink::error(const std::string& line) {
    *d_error << line << std::endl;
}

bool MessageSink::outputFailed() const {
    return d_output->fail();
}

MessageSink standardStreams() {
    return MessageSink(std::cout, std::cerr);
}

std::string formatNumber(double value, int precision) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(precision);
    text << value;
    return text.str();
}

} // namespace psex

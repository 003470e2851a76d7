#pragma once
// A run-time fault inside a component: a number and a description.
//
// Components throw a Fault internally and each procedure applies its own fixed
// policy where the fault lands (ignore and go on, message box and go on, trace
// and return failure, or message and end the program). A Fault never crosses a
// component boundary: public procedures return small results instead.
//
// The numbers are the familiar ones operators and old manuals know (6 overflow,
// 53 file not found, ...); the descriptions are the Italian run-time texts the
// shop's workstation has always shown.

#include <exception>
#include <string>

namespace velmar {

namespace faultno {
inline constexpr int InvalidCall = 5;        // invalid procedure call or argument
inline constexpr int Overflow = 6;           // a number beyond its type
inline constexpr int OutOfRange = 9;         // index outside an array
inline constexpr int FileNotFound = 53;      // a file that must exist does not
inline constexpr int FileAlreadyOpen = 55;   // a file in use by this very operation
inline constexpr int PermissionDenied = 70;  // the system refused access
inline constexpr int FileAccess = 75;        // a file could not be opened, written or removed
inline constexpr int PathNotFound = 76;      // a folder that must exist does not
inline constexpr int MissingElement = 91;    // an element or object that is not there
inline constexpr int DllLoad = 48;           // a shared library could not be loaded
inline constexpr int DllEntryPoint = 453;    // a function is missing from a shared library
inline constexpr int InvalidProperty = 380;  // a setting value a control does not take
// Serial control
inline constexpr int InvalidPort = 8002;     // no such port
inline constexpr int PortAlreadyOpen = 8005; // the port is open already (here or elsewhere)
inline constexpr int PortUnavailable = 8010; // the port exists but cannot be used
inline constexpr int PortNotOpen = 8018;     // the operation needs an open port
// Socket control
inline constexpr int WrongSocketState = 40006; // not connected for this request
} // namespace faultno

// The standard description of a fault number ("" for numbers without one).
const char* standardFaultDescription(int number);

class Fault : public std::exception {
public:
    explicit Fault(int number) : number_(number), description_(standardFaultDescription(number)) {}
    Fault(int number, std::string description)
        : number_(number), description_(std::move(description)) {}

    int number() const noexcept { return number_; }
    // UTF-8 text, for people.
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    int number_;
    std::string description_;
};

} // namespace velmar

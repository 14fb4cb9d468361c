// The USB device controller (UDC) a configfs gadget is bound to, switched through the gadget's
// UDC file: an empty line unbinds it, which the host sees as the cable pulled; the controller's
// name binds it again, and the host enumerates the device anew.
#pragma once

#include <string>
#include <utility>

namespace fwburn::sim::plcsim {

class UdcSwitch {
  public:
    explicit UdcSwitch(std::string path) : path_(std::move(path)) {}

    // Takes the name of the controller the gadget is bound to now. "" or what failed: an
    // unbound gadget has no name to come back to.
    std::string Load();
    // Both return "" or what failed; a switch to the state it is in already writes nothing.
    std::string Unplug();
    std::string Plug();

    bool plugged() const { return plugged_; }
    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; }

  private:
    std::string Write(const std::string& text);

    std::string path_;
    std::string name_;
    bool plugged_ = false;
};

}  // namespace fwburn::sim::plcsim

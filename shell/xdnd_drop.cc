// Drops a URI list onto an X window from outside, as a file manager does through XDND:
// xdnd_drop WINDOW X Y URI... drops at (X, Y) of WINDOW and exits 0 when the target reports the
// drop finished and accepted, 1 when it refuses or does not answer within five seconds.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr long kXdndVersion = 5;
constexpr auto kPatience = std::chrono::seconds(5);

struct Atoms {
  Atom aware, selection, enter, position, status, drop, finished, leave, copy, uri_list, targets;
};

Atoms InternAtoms(Display* x) {
  auto atom = [x](const char* name) { return XInternAtom(x, name, False); };
  return {atom("XdndAware"),      atom("XdndSelection"), atom("XdndEnter"),    atom("XdndPosition"),
          atom("XdndStatus"),     atom("XdndDrop"),      atom("XdndFinished"), atom("XdndLeave"),
          atom("XdndActionCopy"), atom("text/uri-list"), atom("TARGETS")};
}

void Send(Display* x, Window target, Atom type, long l0, long l1, long l2, long l3, long l4) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.display = x;
  event.xclient.window = target;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  long* l = event.xclient.data.l;
  l[0] = l0, l[1] = l1, l[2] = l2, l[3] = l3, l[4] = l4;
  XSendEvent(x, target, False, NoEventMask, &event);
  XFlush(x);
}

// A server timestamp: the time of a property change on our own window.
Time ServerTime(Display* x, Window own) {
  XChangeProperty(x, own, XA_WM_NAME, XA_STRING, 8, PropModeAppend, nullptr, 0);
  XEvent event;
  XWindowEvent(x, own, PropertyChangeMask, &event);
  return event.xproperty.time;
}

// Answers a request for the dropped data (the URI list, or the targets we offer).
void Answer(Display* x, const Atoms& atoms, const XSelectionRequestEvent& request,
            const std::string& uris) {
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.requestor = request.requestor;
  reply.xselection.selection = request.selection;
  reply.xselection.target = request.target;
  reply.xselection.time = request.time;
  reply.xselection.property = request.property;
  if (request.target == atoms.uri_list) {
    XChangeProperty(x, request.requestor, request.property, atoms.uri_list, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(uris.data()), uris.size());
  } else if (request.target == atoms.targets) {
    Atom offered[] = {atoms.uri_list};
    XChangeProperty(x, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(offered), 1);
  } else {
    reply.xselection.property = None;
  }
  XSendEvent(x, request.requestor, False, NoEventMask, &reply);
  XFlush(x);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: xdnd_drop WINDOW X Y URI...\n");
    return 2;
  }
  Display* x = XOpenDisplay(nullptr);
  if (!x) {
    std::fprintf(stderr, "xdnd_drop: cannot open the display\n");
    return 2;
  }
  const Window target = std::strtoul(argv[1], nullptr, 0);
  std::string uris;
  for (int i = 4; i < argc; ++i) uris += std::string(argv[i]) + "\r\n";
  const Atoms atoms = InternAtoms(x);

  int root_x = 0, root_y = 0;
  Window child;
  XTranslateCoordinates(x, target, DefaultRootWindow(x), std::atoi(argv[2]), std::atoi(argv[3]),
                        &root_x, &root_y, &child);
  const Window source = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(x, source, PropertyChangeMask);
  const Time now = ServerTime(x, source);
  XSetSelectionOwner(x, atoms.selection, source, now);

  Send(x, target, atoms.enter, source, kXdndVersion << 24, atoms.uri_list, 0, 0);
  Send(x, target, atoms.position, source, 0, (root_x << 16) | root_y, now, atoms.copy);

  enum { kWaitingForStatus, kWaitingForFinish } stage = kWaitingForStatus;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!XPending(x)) {
      pollfd connection{ConnectionNumber(x), POLLIN, 0};
      poll(&connection, 1, 50);
      continue;
    }
    XEvent event;
    XNextEvent(x, &event);
    if (event.type == SelectionRequest) {
      Answer(x, atoms, event.xselectionrequest, uris);
    } else if (event.type == ClientMessage && event.xclient.message_type == atoms.status &&
               stage == kWaitingForStatus) {
      if (!(event.xclient.data.l[1] & 1)) {
        Send(x, target, atoms.leave, source, 0, 0, 0, 0);
        std::fprintf(stderr, "xdnd_drop: the target refuses the drop\n");
        return 1;
      }
      Send(x, target, atoms.drop, source, 0, now, 0, 0);
      stage = kWaitingForFinish;
    } else if (event.type == ClientMessage && event.xclient.message_type == atoms.finished) {
      const bool accepted = event.xclient.data.l[1] & 1;
      if (!accepted) std::fprintf(stderr, "xdnd_drop: the target did not take the drop\n");
      return accepted ? 0 : 1;
    }
  }
  std::fprintf(stderr, "xdnd_drop: no answer from the target\n");
  return 1;
}

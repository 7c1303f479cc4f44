// window_probe: starts the window program and times it from outside, by reading the screen.
//   window_probe PRESSES PROGRAM
// Starts PROGRAM (with this process's environment and working directory), then reports, one
// "key value" line each:
//   mapped_ms       start to the program's top-level window mapped
//   left_ms         start to the left view's last change before it settled (the sample drawn)
//   left_dark       dark (text) pixels of the left view once settled
//   press1_ms ...   release of a click on the button to the right view's last change before it
//                   settled; presses that drew the same arrangement as before are not timed
//   pss_kb, pss_anon_kb, pss_shmem_kb: the program and all its descendants after the first press,
//                   then one "proc NAME PID PSS ANON" line for each
//   others          processes of another instance of the program or of WebKit at that moment
//   last_pss_kb ... the same after the last press
// The screen must hold no window manager. Views are read every millisecond with MIT-SHM.
#include <dirent.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>

namespace {

// Rectangles of the client area, and where the button is clicked.
struct Rect {
  int x, y, width, height;
};
constexpr Rect kLeftView{8, 8, 464, 515};
constexpr Rect kRightView{496, 8, 488, 515};
constexpr int kButtonX = 480, kButtonY = 542;

// A view has settled once its pixels stay unchanged this long.
constexpr double kSettleMs = 600;
constexpr double kPhaseTimeoutMs = 20000;
constexpr double kGiveUpMs = 1000;
constexpr useconds_t kPollUs = 1000;
// The pause a person leaves between seeing a page and pressing again.
constexpr useconds_t kThinkUs = 400000;
// Pixels darker than half grey count as text.
constexpr int kDarkLuma = 128;
constexpr int kMinTextPixels = 1000;

int Luma(unsigned long pixel) {
  return (299 * ((pixel >> 16) & 255) + 587 * ((pixel >> 8) & 255) + 114 * (pixel & 255)) / 1000;
}

double NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

bool x_error = false;
int OnXError(Display*, XErrorEvent*) {
  x_error = true;
  return 0;
}

// One shared-memory image the size of a view, refilled from the window on every Grab().
class ViewGrabber {
 public:
  ViewGrabber(Display* x, Window window, Rect rect) : x_(x), window_(window), rect_(rect) {
    const int screen = DefaultScreen(x);
    image_ = XShmCreateImage(x, DefaultVisual(x, screen), DefaultDepth(x, screen), ZPixmap, nullptr,
                             &shm_, rect.width, rect.height);
    shm_.shmid = shmget(IPC_PRIVATE, image_->bytes_per_line * image_->height, IPC_CREAT | 0600);
    shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    XShmAttach(x, &shm_);
    XSync(x, False);
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    size_ = static_cast<size_t>(image_->bytes_per_line) * image_->height;
  }
  ~ViewGrabber() {
    XShmDetach(x_, &shm_);
    XDestroyImage(image_);
    shmdt(shm_.shmaddr);
  }

  // Reads the view's pixels; true when they differ from the previous read.
  bool Grab() {
    XShmGetImage(x_, window_, image_, rect_.x, rect_.y, AllPlanes);
    const char* now = image_->data;
    if (last_.size() == size_ && std::memcmp(last_.data(), now, size_) == 0) return false;
    last_.assign(now, now + size_);
    return true;
  }

  int DarkPixels() const {
    int dark = 0;
    for (int y = 0; y < image_->height; ++y) {
      for (int x = 0; x < image_->width; ++x) {
        if (Luma(XGetPixel(image_, x, y)) < kDarkLuma) ++dark;
      }
    }
    return dark;
  }

  // Text on a light ground: some dark pixels, most of them light. A window not yet drawn may
  // hold black, which is not text.
  bool ShowsText() const {
    const int dark = DarkPixels();
    return dark >= kMinTextPixels && dark <= image_->width * image_->height / 2;
  }

  const std::vector<char>& Pixels() const { return last_; }

 private:
  Display* x_;
  Window window_;
  Rect rect_;
  XShmSegmentInfo shm_{};
  XImage* image_;
  size_t size_ = 0;
  std::vector<char> last_;
};

// Polls the view until it shows text that differs from `before` and then stays unchanged for
// kSettleMs. Returns the time of its last change, or a negative value on timeout or when
// `nothing_to_draw` holds while the view still shows `before`, a second or more after the call.
double WaitForSettledChange(
    ViewGrabber& view, const std::vector<char>& before,
    const std::function<bool()>& nothing_to_draw = [] { return false; }) {
  const double called = NowMs(), deadline = called + kPhaseTimeoutMs;
  double last_change = -1;
  bool text = false;
  for (double now = called; now < deadline; now = NowMs()) {
    if (view.Grab()) {
      last_change = view.Pixels() == before ? -1 : now;
      text = view.ShowsText();
    }
    if (last_change < 0 && now - called > kGiveUpMs && nothing_to_draw()) return -1;
    if (last_change >= 0 && text && now - last_change >= kSettleMs) return last_change;
    usleep(kPollUs);
  }
  return -1;
}

long WindowPid(Display* x, Window w) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(x, w, XInternAtom(x, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL,
                         &type, &format, &count, &after, &data) == Success &&
      data && count == 1) {
    pid = *reinterpret_cast<long*>(data);
  }
  if (data) XFree(data);
  return pid;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Proc {
  int pid, ppid;
  std::string name;
};

std::vector<Proc> AllProcesses() {
  std::vector<Proc> all;
  DIR* dir = opendir("/proc");
  while (dirent* entry = readdir(dir)) {
    const int pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    Proc p{pid, 0, stat.substr(open + 1, close - open - 1)};
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    rest >> state >> p.ppid;
    all.push_back(p);
  }
  closedir(dir);
  return all;
}

std::vector<Proc> Descendants(int root) {
  const std::vector<Proc> all = AllProcesses();
  std::vector<Proc> tree;
  std::set<int> in_tree;
  for (bool grew = true; grew;) {
    grew = false;
    for (const Proc& p : all) {
      if (in_tree.count(p.pid) || (!in_tree.count(p.ppid) && p.pid != root)) continue;
      in_tree.insert(p.pid);
      tree.push_back(p);
      grew = true;
    }
  }
  return tree;
}

// Fields of /proc/PID/smaps_rollup in kB, by name without the colon.
std::map<std::string, long> MemoryOf(int pid) {
  std::map<std::string, long> fields;
  std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/smaps_rollup"));
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name;
    long kb;
    if (words >> name >> kb && name.back() == ':') fields[name.substr(0, name.size() - 1)] = kb;
  }
  return fields;
}

// Prints the memory of `program` and its descendants; `prefix` names the moment ("" or "last_").
void ReportMemory(int program, const std::string& prefix) {
  long pss = 0, anon = 0, shmem = 0;
  std::set<int> ours;
  for (const Proc& p : Descendants(program)) {
    ours.insert(p.pid);
    std::map<std::string, long> m = MemoryOf(p.pid);
    pss += m["Pss"];
    anon += m["Pss_Anon"];
    shmem += m["Pss_Shmem"];
    std::printf("%sproc %s %d %ld %ld\n", prefix.c_str(), p.name.c_str(), p.pid, m["Pss"],
                m["Pss_Anon"]);
  }
  int others = 0;
  for (const Proc& p : AllProcesses()) {
    if (ours.count(p.pid)) continue;
    if (p.name == "tessivane-seo" || p.name.starts_with("WebKit")) ++others;
  }
  const char* p = prefix.c_str();
  std::printf("%spss_kb %ld\n%spss_anon_kb %ld\n%spss_shmem_kb %ld\n%sothers %d\n", p, pss, p, anon,
              p, shmem, p, others);
}

void Click(Display* x, int screen_x, int screen_y) {
  XTestFakeMotionEvent(x, -1, screen_x, screen_y, CurrentTime);
  XTestFakeButtonEvent(x, 1, True, CurrentTime);
  XTestFakeButtonEvent(x, 1, False, CurrentTime);
  XSync(x, False);
}

void EndProgram(pid_t program) {
  const std::vector<Proc> tree = Descendants(program);
  kill(program, SIGTERM);
  const double deadline = NowMs() + 3000;
  int status;
  while (waitpid(program, &status, WNOHANG) == 0 && NowMs() < deadline) usleep(10000);
  for (const Proc& p : tree) kill(p.pid, SIGKILL);
  waitpid(program, &status, WNOHANG);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_probe PRESSES PROGRAM\n");
    return 2;
  }
  const int presses = std::atoi(argv[1]);
  Display* x = XOpenDisplay(nullptr);
  if (!x || !XShmQueryExtension(x)) {
    std::fprintf(stderr, "window_probe: needs an X display with MIT-SHM\n");
    return 1;
  }
  XSetErrorHandler(OnXError);
  const Window root = DefaultRootWindow(x);
  XSelectInput(x, root, SubstructureNotifyMask);
  XSync(x, False);

  const double start = NowMs();
  const pid_t program = fork();
  if (program == 0) {
    execl(argv[2], argv[2], static_cast<char*>(nullptr));
    _exit(127);
  }

  // The program's window is the first top-level window mapped that carries its pid.
  Window window = 0;
  double mapped = -1;
  while (!window && NowMs() - start < kPhaseTimeoutMs) {
    while (XPending(x)) {
      XEvent event;
      XNextEvent(x, &event);
      if (event.type != MapNotify || event.xmap.override_redirect) continue;
      if (WindowPid(x, event.xmap.window) != program) continue;
      window = event.xmap.window;
      mapped = NowMs();
    }
    if (!window) usleep(kPollUs);
  }
  if (!window) {
    std::fprintf(stderr, "window_probe: no window appeared\n");
    EndProgram(program);
    return 1;
  }
  std::printf("mapped_ms %.1f\n", mapped - start);

  int status = 0;
  {
    ViewGrabber left(x, window, kLeftView);
    ViewGrabber right(x, window, kRightView);
    XWindowAttributes attributes;
    XGetWindowAttributes(x, window, &attributes);
    const int button_x = attributes.x + kButtonX, button_y = attributes.y + kButtonY;

    const double left_drawn = WaitForSettledChange(left, {});
    if (left_drawn < 0) {
      std::fprintf(stderr, "window_probe: the left view never settled\n");
      status = 1;
    } else {
      std::printf("left_ms %.1f\nleft_dark %d\n", left_drawn - start, left.DarkPixels());
    }
    right.Grab();
    // The pointer rests on the button first, so its hover highlight is not drawn with a press.
    XTestFakeMotionEvent(x, -1, button_x, button_y, CurrentTime);
    XSync(x, False);
    usleep(kThinkUs);

    const std::string index =
        std::string(argv[2]).substr(0, std::string(argv[2]).rfind('/')) + "/index.html";
    std::string arrangement = ReadFile(index);
    for (int press = 1; press <= presses && status == 0; ++press) {
      const std::vector<char> before = right.Pixels();
      Click(x, button_x, button_y);
      const double clicked = NowMs();
      const std::string previous = arrangement;
      const double drawn = WaitForSettledChange(right, before, [&] {
        arrangement = ReadFile(index);
        return arrangement == previous;
      });
      arrangement = ReadFile(index);
      if (drawn < 0 && arrangement == previous) {
        std::printf("press%d_ms same\n", press);
      } else if (drawn < 0) {
        std::fprintf(stderr, "window_probe: press %d drew nothing new\n", press);
        status = 1;
      } else {
        std::printf("press%d_ms %.1f\n", press, drawn - clicked);
        if (press == 1) {
          std::printf("right_dark %d\n", right.DarkPixels());
          ReportMemory(program, "");
        }
      }
      std::fflush(stdout);
      usleep(kThinkUs);
    }
  }
  if (status == 0) ReportMemory(program, "last_");
  if (x_error) std::fprintf(stderr, "window_probe: X errors while reading the window\n");
  std::fflush(stdout);
  EndProgram(program);
  XCloseDisplay(x);
  return status;
}

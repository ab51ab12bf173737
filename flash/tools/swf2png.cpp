// swf2png: renders frames of a SWF movie to PNG files.
//
//   swf2png [--size WxH] [--frames LIST] [--goto] [--trace] [--info] MOVIE.swf [OUT-PATTERN]
//
// OUT-PATTERN is a printf pattern for the frame number (default "frame%04d.png"). LIST is
// "1,5,10-20" (default: every frame). Frames are reached by playing the movie from its start,
// one tick per frame as Flash Player shows it; --goto reaches each with Player::gotoFrame
// instead. --trace prints the movie's trace() output; --info prints the header and stops.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "flash/flash.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: swf2png [--size WxH] [--frames LIST] [--goto] [--trace] [--info] MOVIE.swf "
               "[OUT-PATTERN]\n");
}

bool parseFrames(const std::string& list, std::set<int>& frames) {
  std::size_t from = 0;
  while (from < list.size()) {
    std::size_t comma = list.find(',', from);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(from, comma - from);
    int a = 0, b = 0;
    char dash = 0;
    int n = std::sscanf(item.c_str(), "%d%c%d", &a, &dash, &b);
    if (n == 1 && a > 0) {
      frames.insert(a);
    } else if (n == 3 && dash == '-' && a > 0 && b >= a && b - a < 1000000) {
      for (int f = a; f <= b; ++f) frames.insert(f);
    } else {
      return false;
    }
    from = comma + 1;
  }
  return !frames.empty();
}

bool writePng(const std::string& path, const std::vector<std::uint8_t>& rgb, int w, int h) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(w);
  image.height = png_uint_32(h);
  image.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), w * 3, nullptr) != 0;
}

std::string frameName(const std::string& pattern, int frame) {
  std::vector<char> buf(pattern.size() + 32);
  std::snprintf(buf.data(), buf.size(), pattern.c_str(), frame);
  return buf.data();
}

}  // namespace

int main(int argc, char** argv) {
  int width = 0, height = 0;
  std::set<int> frames;
  bool useGoto = false, trace = false, info = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) {
        std::fprintf(stderr, "swf2png: bad size %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--frames" && i + 1 < argc) {
      if (!parseFrames(argv[++i], frames)) {
        std::fprintf(stderr, "swf2png: bad frame list %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--goto") {
      useGoto = true;
    } else if (a == "--trace") {
      trace = true;
    } else if (a == "--info") {
      info = true;
    } else if (a == "-h" || a == "--help") {
      usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      usage();
      return 2;
    } else {
      args.push_back(a);
    }
  }
  if (args.empty() || args.size() > 2) {
    usage();
    return 2;
  }
  std::string pattern = args.size() > 1 ? args[1] : "frame%04d.png";
  flash::Header header;
  if (flash::Failure f = flash::readHeader(args[0], header); !f.ok()) {
    std::fprintf(stderr, "swf2png: %s: %s\n", args[0].c_str(), flash::describe(f).c_str());
    return 1;
  }
  if (width == 0) {
    width = header.stageWidth() > 0 ? header.stageWidth() : 550;
    height = header.stageHeight() > 0 ? header.stageHeight() : 400;
  }
  flash::Player player(width, height);
  if (trace)
    player.setTraceHandler([](const std::string& line) { std::printf("%s\n", line.c_str()); });
  if (flash::Failure f = player.load(args[0]); !f.ok()) {
    std::fprintf(stderr, "swf2png: %s: %s\n", args[0].c_str(), flash::describe(f).c_str());
    return 1;
  }
  if (!player.damage().ok())
    std::fprintf(stderr, "swf2png: %s: damaged, showing what could be read: %s\n", args[0].c_str(),
                 flash::describe(player.damage()).c_str());
  if (info) {
    std::printf(
        "signature %.3s\nversion %d\nstage %d x %d px (twips %d %d %d %d)\nrate %.2f fps\n"
        "frames %d (header says %d)\n",
        header.signature, header.version, header.stageWidth(), header.stageHeight(),
        header.frame.xMin, header.frame.xMax, header.frame.yMin, header.frame.yMax,
        player.framesPerSecond(), player.frameCount(), header.frameCount);
    return 0;
  }
  if (frames.empty())
    for (int f = 1; f <= player.frameCount(); ++f) frames.insert(f);
  std::vector<std::uint8_t> rgb(player.rowStride() * std::size_t(height));
  int shown = 1;
  int written = 0;
  for (int f : frames) {
    if (useGoto) {
      if (!player.gotoFrame(f)) continue;
    } else {
      // Playback: frame n is the picture after n - 1 ticks.
      while (shown < f) {
        player.nextFrame();
        ++shown;
      }
    }
    player.render(rgb.data(), player.rowStride());
    std::string out = frameName(pattern, f);
    if (!writePng(out, rgb, width, height)) {
      std::fprintf(stderr, "swf2png: cannot write %s\n", out.c_str());
      return 1;
    }
    ++written;
  }
  std::fprintf(stderr, "swf2png: %d frame%s written\n", written, written == 1 ? "" : "s");
  return 0;
}

#include "preview.h"

#include <cmath>

#include "mock.h"
#include "ui/font_table.h"
#include "ui/screen_rects.h"

namespace {

// An atlas rectangle at (x, y) in the given look (0 plain, 1 mouse-over, 2 pressed).
void image(mock_screen& m, float x, float y, const atlas_rect& r, int look, int col_code) {
  m.interface_rect(x, y, static_cast<float>(r.s), static_cast<float>(r.t), static_cast<float>(r.ds),
                   static_cast<float>(r.dt), look, col_code);
}
void image(mock_screen& m, const screen_image& r, int look, int col_code) {
  image(m, r.x, r.y, r.cut, look, col_code);
}
void icon(mock_screen& m, float x, float y, int c) {
  m.interface_rect(x, y, static_cast<float>(atlas_icon_s(c)), static_cast<float>(atlas_icon_t(c)),
                   kAtlasIconSize, kAtlasIconSize, 0, 0);
}
void frame2(mock_screen& m, const screen_box& b, const std::string& title) {
  m.frame2(kAtlasFrameStyle, b.x, b.y, b.dx, b.dy, title);
}

void main_screen(mock_screen& m, bool installing) {
  m.window(0, 0);
  m.background();
  const screen_box& field = kMainDestField;
  m.frame1(9, field.x + field.dx / 2, field.y + field.dy / 2, field.dx);
  m.string(45, 142, 86, "/home/pilot/Skyvane 9/", 9999, 0);
  if (!installing) image(m, kMainDestButton, 0, 1);
  const char* servers[] = {"Europe (Frankfurt)", "North America (Ohio)", "Asia Pacific (Tokyo)"};
  for (int i = 0; i < 3; ++i) m.radio(142, 578 - 20.0f * i, i == 0, servers[i]);
  image(m, kMainSourcePicture, 0, 0);
  icon(m, kMainGlobeX, kMainGlobeY, installing ? 12 : kIdleGlobeIcon);
  frame2(m, kMainSourceFrame, "NET: Skyvane 9.25");
  frame2(m, kMainDownloadFrame, "Download");
  m.string(46, 954, 635, installing ? "1.2 Gig" : "1187.3 Meg", 700, 0);
  if (!installing) {
    m.string(46, 154, 615,
             "You have selected an earlier version of Skyvane in the destination field below, so I will "
             "update that "
             "installation  by just grabbing new updated files!",
             700, 0);
    image(m, kMainInstallButton, 1, 1);
  } else {
    m.string(46, 154, 615, "OK I am installing this now...", 700, 0);
  }
  image(m, kMainQuitButton, 0, 1);
  frame2(m, kMainMessageFrame, "");
  if (!installing) {
    m.string(46, 144, 58, "You are about to install 1187.3 Meg of files to get Skyvane 9.25.", 9999, 0);
    m.string(46, 144, 48, "You have 52.4 Gig of drive space available for the selected directory.", 9999, 0);
    m.string(13, 144, 38, "Click Install to begin.", 9999, 0);
  } else {
    m.string(46, 144, 58,
             "Downloading and installing Aircraft/Laminar Research/Cessna 172SP/Cessna_172SP.acf, currently "
             "63% done "
             "with that file.",
             9999, 0);
    m.string(46, 144, 48,
             "42.7% done with the internet install, having installed 507.1 Meg of 1187.3 Meg for the "
             "internet install.",
             9999, 0);
    m.string(46, 144, 38,
             "About 4 minutes left in the install, downloading at 2210 kilobytes/second with 4 simultaneous "
             "download streams.",
             9999, 0);
  }
  m.frame1(4, 574, 15, 884);
  if (installing) {
    const float x1 = 132, x2 = std::trunc(0.427f * 884 + 132);
    m.frame1(5, 2 * std::round((x1 + x2) / 4), 15, 4 * std::round((x2 - x1) / 4));
  }
}

void licence(mock_screen& m) {
  m.window(0, 0);
  m.back_fill();
  m.window(500, 300);
  m.fillwin("EULA");
  m.frame2(16, 10, 50, 480, 222, "");
  const char* text =
      "SKYVANE 9 END USER LICENCE AGREEMENT\n\nPlease read this agreement carefully before installing. By "
      "clicking Accept you agree to be bound by its terms. If you do not agree, click Decline and nothing "
      "will be installed.";
  m.string(43, 20, 258, text, 460, 0);
  image(m, kLicenceDeclineButton, 0, 1);
  image(m, kLicenceAcceptButton, 1, 1);
  m.zap_boxes(false);
}

void question(mock_screen& m) {
  m.window(0, 0);
  m.back_fill();
  m.window(700, 146);
  m.fillwin("Modified file");
  m.string(43, 20, 100, "I am about to install:", 660, 0);
  m.string(43, 20, 90, "/home/pilot/Skyvane 9/Resources/settings.txt", 660, 0);
  m.string(43, 20, 80, "but it appears you have modified this file. What to do?", 660, 0);
  m.action(96, 53, 160, false, "OVERWRITE THE OLD FILE");
  m.action(96, 28, 160, true, "KEEP THE OLD FILE");
  m.action(308, 53, 260, false, "OVERWRITE EVERY OLD FILE IN THIS DIRECTORY");
  m.action(308, 28, 260, false, "KEEP EVERY OLD FILE IN THIS DIRECTORY");
  m.action(584, 28, 200, false, "CANCEL THE WHOLE INSTALLATION!");
}

void alert(mock_screen& m) {
  m.window(0, 0);
  m.back_fill();
  m.window(420, 250);
  m.fillwin("");
  m.frame2(13, 10, 35, 400, 187, "");
  const char* lines[] = {"DIR-scan: The installer cannot extract a file.", "Error: The archive is damaged.",
                         "Compressed File//tmp/skyvane-1a2b/directory.txt.zip",
                         "Destination Path//tmp/skyvane-1a2b/"};
  for (int i = 0; i < 4; ++i) m.string(43, 210, 205 - 40.0f * i, lines[i], 378, 1);
  m.action(210, 18, 0, false, "OK");
}

// The hover help box and the start-up status panel, which no screen shot shows.
void extras(mock_screen& m) {
  m.window(0, 0);
  m.background();
  m.frame2(14, 540, 590, 420, 60, "");
  m.string(47, 543, 640,
           "Pick the server closest to you. If a download fails, the installer moves to another server on "
           "its own.",
           394, 0);
  m.frame2(15, 20, 470, 460, 200, "");
  m.string(49, 32, 650, "www.skyvane.example", 440, 0);
  m.string(61, 32, 500, "Loading the interface pictures...", 440, 0);
  m.frame1(4, 512, 440, 1000);
  m.frame1(5, 300, 440, 560);
  m.frame1(2, 780, 520, 120);
  m.string(43, 780, 517, "Push button", 0, 1);
  m.frame1(2, 920, 520, 120);
  m.frame1(3, 920, 520, 120);
  m.string(43, 920, 517, "Pressed", 0, 1);
  m.check(560, 520, true, "A check box, on");
  m.check(560, 495, false, "A check box, off");
  m.frame1(0, 200, 230, 300);
  m.frame1(1, 600, 230, 300);
  m.frame1(7, 200, 190, 200);
  m.frame1(8, 400, 190, 60);
  m.frame1(10, 600, 190, 200);
  m.frame2(16, 40, 260, 200, 100, "Thin panel");
  m.frame2(17, 270, 260, 150, 100, "Menu body");
  m.frame2(18, 450, 260, 150, 100, "Panel 18");
  m.frame2(19, 630, 260, 150, 100, "Panel 19");
  m.frame2(12, 820, 260, 180, 100, "Frame 12");
  for (int look = 0; look < 3; ++look) {
    const float y = 140 - 30.0f * look;
    image(m, 20, y, kAtlasDestination, look, 1);
    image(m, 160, y, kAtlasInstall, look, 1);
    image(m, 260, y, kAtlasInstall, look, 2);
    image(m, 360, y, kAtlasQuit, look, 1);
    image(m, 430, y, kAtlasDecline, look, 1);
    image(m, 530, y, kAtlasAccept, look, 1);
  }
  for (int i = kGlobeFirstIcon; i <= kGlobeLastIcon; ++i) icon(m, 20 + (i - 8) * 62.0f, 10, i);
}

void font_sheet(mock_screen& m) {
  m.window(0, 0);
  m.fillrect(34, 0, 0, 1024, 384);
  m.fillrect(0, 0, 384, 1024, 384);
  std::string all;
  for (int c = 32; c < 127; ++c) all += static_cast<char>(c);
  std::string high;
  for (int c : {191, 193, 201, 205, 209, 211, 218, 225, 233, 237, 241, 243, 250, 251})
    high += static_cast<char>(c);
  const char* sample =
      "The quick brown fox jumps over the lazy dog. 0123456789 (Skyvane 9.25) $12.50 & 97% done - "
      "WAVE Type AVATAR, Hamburgefonstiv.";
  m.string(43, 20, 740, all, 0, 0);
  m.string(43, 20, 720, high, 0, 0);
  m.string(43, 20, 700, sample, 0, 0);
  m.string(46, 20, 680, sample, 0, 0);
  m.string(13, 20, 660, sample, 0, 0);
  m.string(1, 20, 640, sample, 0, 0);
  m.string(43, 20, 610, std::string(sample) + " " + sample + " " + sample, 480, 0);
  m.string(40, 20, 350, all, 0, 0);
  m.string(47, 20, 330, sample, 0, 0);
  m.string(49, 20, 310, sample, 0, 0);
  m.string(61, 20, 290, sample, 0, 0);
}

}  // namespace

bool write_previews(const std::string& dir, const canvas& interface_image, const canvas& atlas,
                    const canvas& background) {
  bool ok = true;
  {
    mock_screen m(interface_image, atlas, background);
    main_screen(m, false);
    ok &= m.pixels().write_png(dir + "/main.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    main_screen(m, true);
    ok &= m.pixels().write_png(dir + "/main_installing.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    licence(m);
    ok &= m.pixels().write_png(dir + "/licence.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    question(m);
    ok &= m.pixels().write_png(dir + "/question.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    alert(m);
    ok &= m.pixels().write_png(dir + "/alert.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    extras(m);
    ok &= m.pixels().write_png(dir + "/extras.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    font_sheet(m);
    ok &= m.pixels().write_png(dir + "/font.png");
  }
  return ok;
}

#include "TourIndex.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

static void appendEscaped(std::string &html, const std::string &text) {
  for (char c : text) {
    switch (c) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      case '\x1c': html += "<span class=sep>&#x241C;</span>"; break;  // the list separator, made visible
      default: html += c;
    }
  }
}

// A relative file path as a link: every byte but letters, digits and -._~/ percent-encoded.
static std::string linkTo(const std::string &path) {
  std::string link;
  for (unsigned char c : path) {
    if (isalnum(c) || strchr("-._~/", c)) {
      link += (char)c;
    } else {
      char encoded[4];
      snprintf(encoded, sizeof encoded, "%%%02X", c);
      link += encoded;
    }
  }
  return link;
}

static const char *outcomeClass(const std::string &outcome) {
  if (outcome == "ok") return "ok";
  return outcome.compare(0, 7, "skipped") == 0 ? "skipped" : "failed";
}

bool WriteTourIndex(NSString *path, const std::vector<TourStepRecord> &records, const std::string &repository) {
  std::string html =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>DesktopBridge tour</title>\n<style>\n"
      "body{font:14px sans-serif;margin:2em;max-width:1500px}\n"
      "section{border-top:1px solid #ccc;padding:1em 0;display:flex;gap:2em;align-items:flex-start}\n"
      ".log{flex:1;min-width:28em} .shots{flex:2} figure{margin:0 0 1em 0} img{max-width:100%;border:1px solid #999}\n"
      "pre{background:#f4f4f4;padding:.6em;white-space:pre-wrap;font-size:12px}\n"
      ".ok{color:#070} .skipped{color:#a60} .failed{color:#b00} .sep{color:#b0b}\n"
      "</style></head><body>\n<h1>DesktopBridge: the guided tour</h1>\n"
      "<p>Each step calls the plug-in's exports as a host does; its log lines (the host's event log) "
      "stand beside the screenshots taken while it ran. <span class=sep>&#x241C;</span> marks the list "
      "separator (0x1C) between paths.</p>\n<ol>\n";
  for (const TourStepRecord &record : records) {
    html += "<li><a href=\"#" + record.name + "\">";
    appendEscaped(html, record.title);
    html += "</a> <span class=" + std::string(outcomeClass(record.outcome)) + ">";
    appendEscaped(html, record.outcome);
    html += "</span></li>\n";
  }
  html += "</ol>\n";
  for (const TourStepRecord &record : records) {
    html += "<section id=\"" + record.name + "\"><div class=log><h2>";
    appendEscaped(html, record.title);
    html += "</h2><p class=" + std::string(outcomeClass(record.outcome)) + ">";
    appendEscaped(html, record.outcome);
    html += "</p>";
    if (!record.source.empty()) {
      html += "<p class=code>Code: ";
      if (!repository.empty()) {
        html += "<a href=\"" + linkTo(repository + record.source) + "\">";
      }
      appendEscaped(html, record.source);
      if (!repository.empty()) html += "</a>";
      html += "</p>";
    }
    html += "<pre>";
    for (const std::string &line : record.lines) {
      appendEscaped(html, line);
      html += "\n";
    }
    html += "</pre></div><div class=shots>";
    for (const TourScreenshot &shot : record.shots) {
      html += "<figure><img src=\"" + shot.file + "\" alt=\"";
      appendEscaped(html, shot.caption);
      html += "\"><figcaption>";
      appendEscaped(html, shot.caption);
      html += "</figcaption></figure>";
    }
    html += "</div></section>\n";
  }
  html += "</body></html>\n";
  NSData *data = [NSData dataWithBytes:html.data() length:html.size()];
  return [data writeToFile:path atomically:YES];
}

// The tour's index page: each step's screenshots beside its log lines, and a link to the file that
// holds the step's code, through repository (the repository's path relative to the page, ending
// in "/"; empty: no links).
#ifndef PLAYER_TOUR_INDEX_H
#define PLAYER_TOUR_INDEX_H

#import <Foundation/Foundation.h>

#include "Tour.h"

bool WriteTourIndex(NSString *path, const std::vector<TourStepRecord> &records, const std::string &repository);

#endif

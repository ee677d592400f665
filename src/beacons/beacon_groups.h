// The two beacon groups: 6 the timed file beacon, 7 the CW ident. Both
// count down on the shared scheme (station/field_rules.h); group 8, the keyed
// seconds to the next transmit break, belongs to the break.
#pragma once

namespace tarnwick {

class Station;

void BeaconPeriod6_Change(Station& s);
void BeaconPeriod7_Change(Station& s);

void Beacon6_Timer(Station& s);   // timed file beacon
void Command6_Click(Station& s);  // "Send Now"
void Beacon7_Timer(Station& s);   // CW ident
void SendCW_Click(Station& s);    // "Send ID"

}  // namespace tarnwick

#pragma once

/// Lets assistive technology read the response field as read-only, multi-line text: its lines
/// as shown, the selection and where it ends, line by line. Made for every ResponseView once
/// this has run; running it again changes nothing.
void installResponseAccessibility();

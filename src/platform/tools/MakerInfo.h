// The maker's addresses, shown in the title, the About box and the help commands, and used by the
// crash reports and the change-log feed.
#pragma once

#define KV_MAKER_NAME "Drovane Software"
#define KV_MAKER_WEB_ADDRESS "www.drovane.example"
#define KV_MAKER_WEB_URL "https://www.drovane.example"
#define KV_MAKER_EMAIL "info@drovane.example"
#define KV_MAKER_SUPPORT_EMAIL "support@drovane.example"
#define KV_MAKER_FEEDBACK_URL "https://www.drovane.example/kelvaro/feedback"
#define KV_CHANGELOG_FEED_URL "https://updates.drovane.example/kelvaro/changelog.rss"
#define KV_CHANGELOG_PAGE_URL "https://www.drovane.example/kelvaro/changelog"

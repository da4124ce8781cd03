// A real HTTP client over TLS: login, then a form upload the way curl sends
// it ("Expect: 100-continue"), which must not wait for the client's time-out.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include "poste2e.h"

namespace {

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

struct Easy {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    std::string body;
    std::string head;
    ~Easy() {
        curl_slist_free_all(headers);
        curl_easy_cleanup(handle);
    }
    void prepare(const std::string& url) {
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(handle, CURLOPT_TIMEOUT, 20L);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collect);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, &head);
    }
    long status() {
        long code = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }
};

class CurlUploadTest : public poste2e::ServerTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o;
        o.tls = true;
        return o;
    }
    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(tree->port) + path;
    }
};

} // namespace

TEST_F(CurlUploadTest, LoginThenUploadWithoutStalling) {
    tree->setReply("*", poste2e::kProbeReply);
    tree->setReply(std::string("POST ") + poste2e::kSessions,
                   poste2e::loginReply("curl-token", "/redfish/v1/SessionService/Sessions/3"));
    Easy login;
    login.prepare(url(poste2e::kSessions));
    const std::string credentials = R"({"UserName":"admin","Password":"pw"})";
    login.headers = curl_slist_append(login.headers, "Content-Type: application/json");
    curl_easy_setopt(login.handle, CURLOPT_HTTPHEADER, login.headers);
    curl_easy_setopt(login.handle, CURLOPT_POSTFIELDS, credentials.c_str());
    ASSERT_EQ(curl_easy_perform(login.handle), CURLE_OK);
    EXPECT_EQ(login.status(), 201);
    EXPECT_NE(login.head.find("\r\nX-Auth-Token: curl-token\r\n"), std::string::npos) << login.head;

    const std::string image(200000, 'F');
    Easy upload;
    upload.prepare(url(poste2e::kFirmware));
    upload.headers = curl_slist_append(upload.headers, "X-Auth-Token: curl-token");
    upload.headers = curl_slist_append(upload.headers, "Expect: 100-continue");
    curl_easy_setopt(upload.handle, CURLOPT_HTTPHEADER, upload.headers);
    curl_mime* form = curl_mime_init(upload.handle);
    curl_mimepart* field = curl_mime_addpart(form);
    curl_mime_name(field, "Force");
    curl_mime_data(field, "true", CURL_ZERO_TERMINATED);
    curl_mimepart* file = curl_mime_addpart(form);
    curl_mime_name(file, "UpdateFile");
    curl_mime_filename(file, "C:\\images\\fw.bin");
    curl_mime_data(file, image.data(), image.size());
    curl_easy_setopt(upload.handle, CURLOPT_MIMEPOST, form);
    // Without the interim answer curl would wait longer than the transfer may
    // take, and fail.
    curl_easy_setopt(upload.handle, CURLOPT_EXPECT_100_TIMEOUT_MS, 120000L);
    CURLcode result = curl_easy_perform(upload.handle);
    curl_mime_free(form);
    ASSERT_EQ(result, CURLE_OK) << "no interim answer: curl timed out waiting for it";
    EXPECT_EQ(upload.status(), 200);
    EXPECT_NE(upload.head.find("HTTP/1.1 100 Continue\r\n"), std::string::npos) << upload.head;
    EXPECT_NE(upload.head.find("\r\nContent-Type: application/json\r\n"), std::string::npos);
    EXPECT_EQ(upload.body, R"({"probe":"ok"})");

    auto calls = callsOf("POST");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1]["fileContent"], image);
    EXPECT_EQ(nlohmann::json::parse(calls[1]["body"].get<std::string>())["Force"], true);
}

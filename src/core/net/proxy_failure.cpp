#include "core/net/proxy_failure.h"

namespace core {

const char* ProxyFailureText(ProxyFailure failure) {
  switch (failure) {
    case ProxyFailure::kNone:
      return "";
    case ProxyFailure::kBadTarget:
      return "目标地址无效";
    case ProxyFailure::kSocks4NeedsIpv4:
      return "SOCKS4只能连接IPv4地址";
    case ProxyFailure::kBadCredentials:
      return "用户名或密码太长或含有无法发送的字符";
    case ProxyFailure::kRefused:
      return "代理拒绝连接";
    case ProxyFailure::kAuthRequired:
      return "代理要求用户名和密码";
    case ProxyFailure::kAuthRefused:
      return "代理要求的用户名或密码不对";
    case ProxyFailure::kNoAcceptableMethod:
      return "代理不接受所提供的认证方式";
    case ProxyFailure::kNotHttpProxy:
      return "不是HTTP代理服务器";
    case ProxyFailure::kNotSocks4:
      return "不是SOCKS4服务器";
    case ProxyFailure::kNotSocks5:
      return "不是SOCKS5服务器";
    case ProxyFailure::kBadReply:
      return "代理的应答不完整或无法识别";
    case ProxyFailure::kProxyInternalError:
      return "代理服务器内部错误";
    case ProxyFailure::kNetworkUnreachable:
      return "代理无法到达目标网络";
    case ProxyFailure::kHostUnreachable:
      return "代理无法到达目标主机";
    case ProxyFailure::kTargetRefused:
      return "目标拒绝了代理的连接";
    case ProxyFailure::kTargetTimedOut:
      return "代理连接目标超时";
    case ProxyFailure::kCommandNotSupported:
      return "代理不支持CONNECT命令";
    case ProxyFailure::kAddressTypeNotSupported:
      return "代理不支持这种地址类型";
    case ProxyFailure::kTimeout:
      return "超时";
    case ProxyFailure::kProxyUnreachable:
      return "无法连接到代理服务器";
  }
  return "代理的应答不完整或无法识别";
}

const char* ProxyFailureEnglish(ProxyFailure failure) {
  switch (failure) {
    case ProxyFailure::kNone:
      return "";
    case ProxyFailure::kBadTarget:
      return "target address cannot be sent";
    case ProxyFailure::kSocks4NeedsIpv4:
      return "SOCKS4 reaches IPv4 addresses only";
    case ProxyFailure::kBadCredentials:
      return "user name or password cannot be sent";
    case ProxyFailure::kRefused:
      return "refused by the proxy";
    case ProxyFailure::kAuthRequired:
      return "proxy wants a user name and password";
    case ProxyFailure::kAuthRefused:
      return "user name or password refused";
    case ProxyFailure::kNoAcceptableMethod:
      return "no authentication method accepted";
    case ProxyFailure::kNotHttpProxy:
      return "not an HTTP proxy";
    case ProxyFailure::kNotSocks4:
      return "not a SOCKS4 server";
    case ProxyFailure::kNotSocks5:
      return "not a SOCKS5 server";
    case ProxyFailure::kBadReply:
      return "short or malformed reply";
    case ProxyFailure::kProxyInternalError:
      return "proxy internal error";
    case ProxyFailure::kNetworkUnreachable:
      return "network unreachable from the proxy";
    case ProxyFailure::kHostUnreachable:
      return "host unreachable from the proxy";
    case ProxyFailure::kTargetRefused:
      return "target refused the proxy";
    case ProxyFailure::kTargetTimedOut:
      return "target timed out at the proxy";
    case ProxyFailure::kCommandNotSupported:
      return "CONNECT not supported";
    case ProxyFailure::kAddressTypeNotSupported:
      return "address type not supported";
    case ProxyFailure::kTimeout:
      return "timed out";
    case ProxyFailure::kProxyUnreachable:
      return "proxy cannot be reached";
  }
  return "short or malformed reply";
}

}  // namespace core

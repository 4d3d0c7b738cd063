// The JSON API. The token lives in this tab's sessionStorage and goes out in the Authorization
// header of the requests that change something; it is never a cookie.
const KEY = 'uhfd-token';

export function token() {
  return sessionStorage.getItem(KEY) || '';
}

export function setToken(value) {
  if (value) sessionStorage.setItem(KEY, value);
  else sessionStorage.removeItem(KEY);
}

// {status, body}; body is the parsed JSON, or {error} when the answer was not JSON.
export async function call(method, path, body, { auth = false } = {}) {
  const headers = {};
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  if (auth && token()) headers['Authorization'] = 'Bearer ' + token();
  let response;
  try {
    response = await fetch(path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body), cache: 'no-store' });
  } catch (e) {
    return { status: 0, body: { error: 'the gateway did not answer: ' + e.message } };
  }
  let parsed;
  try {
    parsed = await response.json();
  } catch {
    parsed = { error: 'HTTP ' + response.status };
  }
  return { status: response.status, body: parsed };
}

export const get = (path) => call('GET', path);

export const readerPath = (name, what = '') => '/api/readers/' + encodeURIComponent(name) + (what ? '/' + what : '');

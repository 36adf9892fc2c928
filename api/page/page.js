// The verification page: sends the chosen document and signature to POST /v1/check of the server
// that served it and shows the answer. Plain JavaScript without anything fetched from elsewhere;
// the texts are Russian, or English when the browser prefers English.
"use strict";

const TEXTS = {
  ru: {
    title: "Проверка электронной подписи",
    intro: "Выберите подписанный документ и файл его подписи: сервер проверит подпись, сертификат подписавшего и цепочку его сертификатов.",
    documentLabel: "Документ",
    documentHint: "Любой файл. Можно перетащить сюда.",
    signatureLabel: "Подпись",
    signatureHint: "Отсоединённая подпись CMS (.sig, .p7s): DER, PEM или Base64. Можно перетащить сюда.",
    options: "Параметры",
    timeLabel: "Время проверки (пусто — сейчас)",
    revocationLabel: "Проверять отзыв сертификатов",
    check: "Проверить",
    uploading: "Отправка",
    checksCaption: "Проверки",
    checkColumn: "Проверка",
    resultColumn: "Результат",
    textColumn: "Пояснение",
    codeColumn: "Код",
    signatureCheck: "Математическая корректность подписи",
    certificateCheck: "Сертификат в хранилище",
    chainCheck: "Цепочка сертификатов",
    signer: "Подписавший",
    subjectName: "Владелец",
    issuer: "Издатель",
    serial: "Серийный номер",
    validity: "Срок действия",
    report: "Отчёт о проверке",
    saveReport: "Сохранить отчёт",
    footer: "Документы проверяются на этом сервере и нигде не сохраняются.",
    ok: "пройдена",
    fail: "не пройдена",
    valid: "Подпись действительна",
    invalid: "Подпись недействительна",
    unknown: "Проверить подпись не удалось",
    validDetail: "Подпись верна, сертификат подписавшего найден, его цепочка доверена.",
    invalidDetail: "Одна или несколько проверок окончились неудачей; подробности ниже.",
    revocationDetail: "Подпись верна, но проверить, не отозван ли сертификат, не удалось.",
    validityRange: (from, to) => `с ${from} по ${to}`,
    chooseBoth: "Выберите документ и файл подписи.",
    network: "Сервер не отвечает. Проверьте соединение и попробуйте ещё раз.",
    tooLarge: "Файл слишком велик: сервер не принимает документы такого размера.",
    busy: "Сервер занят другими проверками. Попробуйте ещё раз через несколько секунд.",
    stopping: "Сервер останавливается. Попробуйте позже.",
    refused: "Сервер отклонил запрос. ",
    none: "нет",
  },
  en: {
    title: "Electronic signature check",
    intro: "Choose a signed document and the file of its signature: the server checks the signature, the signer's certificate and its chain.",
    documentLabel: "Document",
    documentHint: "Any file. You can drop it here.",
    signatureLabel: "Signature",
    signatureHint: "A detached CMS signature (.sig, .p7s): DER, PEM or Base64. You can drop it here.",
    options: "Options",
    timeLabel: "Time of the check (empty: now)",
    revocationLabel: "Check the certificates' revocation",
    check: "Check",
    uploading: "Uploading",
    checksCaption: "Checks",
    checkColumn: "Check",
    resultColumn: "Result",
    textColumn: "Explanation",
    codeColumn: "Code",
    signatureCheck: "Signature",
    certificateCheck: "Certificate in the stores",
    chainCheck: "Certificate chain",
    signer: "Signer",
    subjectName: "Subject",
    issuer: "Issuer",
    serial: "Serial number",
    validity: "Validity",
    report: "Verification report",
    saveReport: "Save the report",
    footer: "Documents are checked on this server and kept nowhere.",
    ok: "passed",
    fail: "failed",
    valid: "Signature valid",
    invalid: "Signature not valid",
    unknown: "Could not check the signature",
    validDetail: "The signature verifies, the signer's certificate was found and its chain is trusted.",
    invalidDetail: "One or more checks failed; see below.",
    revocationDetail: "The signature verifies, but whether the certificate was revoked could not be found out.",
    validityRange: (from, to) => `from ${from} to ${to}`,
    chooseBoth: "Choose the document and the signature file.",
    network: "The server does not answer. Check the connection and try again.",
    tooLarge: "The file is too large: the server does not take documents of this size.",
    busy: "The server is busy with other checks. Try again in a few seconds.",
    stopping: "The server is stopping. Try again later.",
    refused: "The server refused the request. ",
    none: "none",
  },
};

const preferred = (navigator.languages && navigator.languages[0]) || navigator.language || "";
const LANGUAGE = /^en\b/i.test(preferred) ? "en" : "ru";
const T = TEXTS[LANGUAGE];

// Only these trust bits leave the signature's validity open rather than refuted.
const UNDECIDED = ["CERT_TRUST_REVOCATION_STATUS_UNKNOWN", "CERT_TRUST_IS_OFFLINE_REVOCATION"];

const $ = (id) => document.getElementById(id);
let reportPage = null;

function translate() {
  document.documentElement.lang = LANGUAGE;
  document.title = T.title + " — Quilmarend";
  for (const node of document.querySelectorAll("[data-text]")) node.textContent = T[node.dataset.text];
  for (const node of document.querySelectorAll("[data-title]")) node.title = T[node.dataset.title];
}

function dropZone(zoneId, inputId) {
  const zone = $(zoneId);
  const input = $(inputId);
  zone.addEventListener("dragover", (event) => {
    event.preventDefault();
    zone.classList.add("over");
  });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    if (event.dataTransfer.files.length > 0) input.files = event.dataTransfer.files;
  });
}

function showVerdict(kind, detail) {
  const verdict = $("verdict");
  verdict.className = "verdict " + kind;
  verdict.querySelector(".verdict-mark").textContent = { valid: "✔", invalid: "✘", unknown: "?" }[kind];
  verdict.querySelector(".verdict-text").textContent = T[kind];
  $("verdict-detail").textContent = detail;
  $("result").hidden = false;
  verdict.focus();
}

function fillCheck(rowId, check) {
  const row = $(rowId);
  const outcome = row.querySelector(".outcome");
  outcome.textContent = (check.ok ? "✔ " : "✘ ") + (check.ok ? T.ok : T.fail);
  outcome.className = "outcome " + (check.ok ? "ok" : "fail");
  // For a check that passed the text is the code again; it is said once.
  row.querySelector(".text").textContent = check.text === check.status ? "" : check.text;
  row.querySelector(".code").textContent = check.status;
}

function when(text) {
  return text ? new Date(text).toLocaleString(LANGUAGE) : T.none;
}

function showAnswer(answer) {
  const undecided =
    !answer.valid && answer.signature.ok && answer.chain.reasons.length > 0 &&
    answer.chain.reasons.every((reason) => UNDECIDED.includes(reason));
  const kind = answer.valid ? "valid" : undecided ? "unknown" : "invalid";
  fillCheck("check-signature", answer.signature);
  fillCheck("check-certificate", answer.certificate);
  fillCheck("check-chain", answer.chain);
  const signer = answer.signer;
  $("signer").hidden = signer === null;
  if (signer !== null) {
    $("signer-name").textContent = signer.subjectName || signer.subject || T.none;
    $("signer-issuer").textContent = signer.issuer || T.none;
    $("signer-serial").textContent = signer.serial || T.none;
    $("signer-validity").textContent = T.validityRange(when(signer.notBefore), when(signer.notAfter));
  }
  reportPage = answer.report;
  $("report-box").hidden = reportPage === null;
  $("report").srcdoc = reportPage || "";
  $("details").hidden = false;
  showVerdict(kind, { valid: T.validDetail, invalid: T.invalidDetail, unknown: T.revocationDetail }[kind]);
}

// showFailure shows a refusal or a failed request as a sentence.
function showFailure(status, problem) {
  $("details").hidden = true;
  const type = problem && typeof problem.type === "string" ? problem.type.split(":").pop() : "";
  let sentence;
  if (status === 0) sentence = T.network;
  else if (status === 413 || type === "too-large") sentence = T.tooLarge;
  else if (type === "busy") sentence = T.busy;
  else if (type === "stopping" || status === 503) sentence = T.stopping;
  else if (type === "missing-part") sentence = T.chooseBoth;
  else sentence = T.refused + (problem && problem.title ? problem.title + "." : "HTTP " + status + ".");
  showVerdict("unknown", sentence);
}

function setBusy(busy) {
  $("check").disabled = busy;
  $("progress").hidden = !busy;
  $("progress-label").hidden = !busy;
}

function submit(event) {
  event.preventDefault();
  const documentFile = $("document").files[0];
  const signatureFile = $("signature").files[0];
  $("form-error").hidden = true;
  if (!documentFile || !signatureFile) {
    $("form-error").textContent = T.chooseBoth;
    $("form-error").hidden = false;
    return;
  }
  const form = new FormData();
  form.append("document", documentFile, documentFile.name);
  form.append("signature", signatureFile, signatureFile.name);
  form.append("revocation", $("revocation").checked ? "true" : "false");
  if ($("time").value) form.append("time", new Date($("time").value).toISOString());
  form.append("report", "html");

  const request = new XMLHttpRequest();
  request.open("POST", "/v1/check");
  request.upload.addEventListener("progress", (progress) => {
    if (progress.lengthComputable) $("progress").value = (100 * progress.loaded) / progress.total;
  });
  request.addEventListener("load", () => {
    setBusy(false);
    let body = null;
    try {
      body = JSON.parse(request.responseText);
    } catch (error) {
      body = null;
    }
    if (request.status === 200 && body !== null) showAnswer(body);
    else showFailure(request.status, body);
  });
  request.addEventListener("error", () => {
    setBusy(false);
    showFailure(0, null);
  });
  $("progress").value = 0;
  setBusy(true);
  request.send(form);
}

function saveReport() {
  if (reportPage === null) return;
  const page = new Blob(['<!DOCTYPE html><meta charset="utf-8">', reportPage], { type: "text/html" });
  const link = document.createElement("a");
  link.href = URL.createObjectURL(page);
  link.download = "report.html";
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

translate();
dropZone("document-drop", "document");
dropZone("signature-drop", "signature");
// A file dropped beside the zones must not make the browser leave the page to show it.
window.addEventListener("dragover", (event) => event.preventDefault());
window.addEventListener("drop", (event) => event.preventDefault());
$("check-form").addEventListener("submit", submit);
$("save-report").addEventListener("click", saveReport);

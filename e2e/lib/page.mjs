// The page convert.cgi sends, as the browser receives it: the server has taken
// the CGI header off and sends the rest unchanged.
export function pageHead(scriptFilename) {
  return (
    '<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01//EN" "http://www.w3.org/TR/html4/strict.dtd">\n' +
    '<html>\n<head>\n' +
    '<meta http-equiv="Content-Type" content="text/html; charset=utf-8">\n' +
    '<title>Tolvane 3 - Kavrel v2 converter</title>\n' +
    '<style type="text/css">\n' +
    'html{margin:0; padding:0; border:none}\n' +
    'body{ line-height:normal;  margin:0;  padding:0;  font-family:Verdana,Tahoma,Arial; ' +
    'font-size:8.5pt; color:#000; background-color:#FFF;  border:none;}\n' +
    '.formy{font-size:10px; font-family:Verdana,Tahoma,Arial; background-color:#fff; ' +
    'border:1px solid #555}\n' +
    '</style>\n</head>\n<body>\n' +
    '<div style="width:50%; margin-left:auto; margin-right:auto; border:1px solid #ccc; ' +
    'border-top:none;"><form action="convert.cgi" method="post">\n' +
    '<div id="form_container">\n' +
    `current path of convert.cgi <span style="font-weight:bold;">${scriptFilename}</span>\n` +
    '<br><br>\n' +
    'path to tolvane 3 <span style="font-weight:bold;">cgi-bin/tn3/</span> directory - ' +
    '<input type="text" name="tolvane3" value="" size="80" class="formy">\n' +
    '<br><br>\n' +
    'path to kavrel v2 <span style="font-weight:bold;">cgi-bin/kv2/</span> directory - ' +
    '<input type="text" name="kavrelv2" value="" size="80" class="formy">\n' +
    '<br><br>\n' +
    '<input type="submit" name="submit" value="submit" class="formy">\n' +
    '</div>\n</form>\n'
  );
}

export const LOADING = 'loading conversion module...<br>\n';
export const CLOSING = '<hr size=1 color=silver width=50% align=left></div>\n</body>\n</html>\n';
export const INCORRECT_FORM_DATA = 'incorrect form data';
export const skipping = (key) => `skipping ${key} - already exists in database<br>`;
export const added = (key) => `added ${key}<br>`;

// The error block for a file that will not open, with the return link that
// steps inside the trade loop show.
export const openErrorWithLink = (file) =>
  '<div align=center>\n<font style="font:normal 8pt arial;";><font style="color:red;">' +
  '<b>Error</b></font><br>\n' +
  `Unable to open file <b>${file}</b><br>\n` +
  'Please check file permissions and try again<br>\n<br><br>\n' +
  '<a href="convert.cgi">click here to return to convert.cgi</a><br>\n' +
  '</font></div></body>\n</html>';
